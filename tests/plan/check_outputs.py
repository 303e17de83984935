#!/usr/bin/python3
"""The plan's calendar and page as their readers see them: the ICS parsed by
a calendar library and compared with the JSON plan, and the HTML page
rendered by headless Chromium (a screenshot is kept in artifacts/plan/);
and the fleet report's page of a small simulated fleet, rendered the same
way (artifacts/report/).

Usage: tests/plan/check_outputs.py PATH/TO/kalmora-sim
"""

import json
import os
import datetime
import re
import shutil
import subprocess
import sys
import tempfile

import icalendar

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLE = os.path.join(ROOT, "examples", "program")


def plan(sim, fmt, out, directory=EXAMPLE, *extra):
    subprocess.run([sim, "plan", "--dir", directory, "--year", "2027", "--format", fmt, "-o", out, *extra], check=True)


def events(path):
    with open(path, "rb") as f:
        return icalendar.Calendar.from_ical(f.read()).walk("VEVENT")


def main(sim):
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        paths = {fmt: os.path.join(tmp, "plan." + fmt) for fmt in ("json", "ics", "html")}
        for fmt, path in paths.items():
            plan(sim, fmt, path)
        days = json.load(open(paths["json"]))
        wanted = sorted([(d["date"], "shutdown") for d in days if d["halt"]] +
                        [(d["date"], "mail") for d in days for _ in d["mails"]])
        got = sorted((str(e.decoded("dtstart").date()), "shutdown" if "shutdown" in str(e["summary"]) else "mail")
                     for e in events(paths["ics"]))
        if got != wanted or len(got) != 3:
            failures.append(f"calendar events {got} != plan {wanted}")

        # DTSTAMP is the moment of generation, in UTC. (That UIDs stay when a
        # row is added: tools/plan_test.cpp.)
        stamps = [e.decoded("dtstamp") for e in events(paths["ics"])]
        now = datetime.datetime.now(datetime.timezone.utc)
        if not all(s.tzinfo is not None and s.utcoffset() == datetime.timedelta(0) and abs(now - s).total_seconds() < 600
                   for s in stamps):
            failures.append(f"DTSTAMP is not the time of generation in UTC: {stamps}")

        # A year with weekend shutdowns: 104 weekend events, none with --no-weekends.
        weekends = shutil.copytree(EXAMPLE, os.path.join(tmp, "weekends"))
        with open(os.path.join(EXAMPLE, "kalmora.ini"), "rb") as f, open(weekends + "/kalmora.ini", "wb") as w:
            w.write(f.read().replace(b"WeekendShutdown=0", b"WeekendShutdown=1"))
        for extra, count in (((), 104), (("--no-weekends",), 0)):
            plan(sim, "ics", os.path.join(tmp, "weekends.ics"), weekends, *extra)
            n = sum("(weekend)" in str(e["summary"]) for e in events(os.path.join(tmp, "weekends.ics")))
            if n != count:
                failures.append(f"{n} weekend events with {extra}, not {count}")

        artifacts = os.path.join(ROOT, "artifacts", "plan")
        os.makedirs(artifacts, exist_ok=True)
        browser = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + os.path.join(tmp, "profile")]

        def chromium(page, *args):
            return subprocess.run(browser + [*args, "file://" + page], capture_output=True, text=True,
                                  timeout=120).stdout

        weekends_html = os.path.join(tmp, "weekends.html")
        plan(sim, "html", weekends_html, weekends)
        for page, shot in ((paths["html"], "plan.png"), (weekends_html, "weekends.png")):
            chromium(page, "--window-size=1400,1800", "--screenshot=" + os.path.join(artifacts, shot))
            if not os.path.exists(os.path.join(artifacts, shot)):
                failures.append("no screenshot " + shot)

        # The page of the year with weekend shutdowns as Chromium reads and
        # paints it: the colours from the computed style of a copy of the
        # page with a script that writes them into it.
        with open(weekends_html) as f:
            page = f.read()
        probe = ("<script>const c = id => getComputedStyle(document.getElementById(id)).backgroundColor;"
                 "document.body.insertAdjacentHTML('beforeend', '<pre id=probe>' + [c('d2027-12-25'), "
                 "c('d2027-12-24'), c('d2027-12-20'), getComputedStyle(document.querySelector('.legend .weekend'))"
                 ".backgroundColor].join('|') + '</pre>');</script>")
        with open(os.path.join(tmp, "probe.html"), "w") as f:
            f.write(page.replace("</body>", probe + "</body>"))
        dom = chromium(os.path.join(tmp, "probe.html"), "--dump-dom")

        def cell(date):
            m = re.search(r'<td id="d' + date + r'"([^>]*)>', dom)
            return m.group(1) if m else None

        eve, monday = cell("2027-12-24"), cell("2027-12-20")
        if eve is None or 'class="holiday"' not in eve or "Christmas Eve" not in eve:
            failures.append(f"24 December is not shown as a holiday shutdown: {eve}")
        if monday is None or "class=" in monday:
            failures.append(f"a working Monday is marked: {monday}")
        m = re.search(r"<pre id=\"probe\">([^<]*)</pre>", dom)
        colours = m.group(1).split("|") if m else []
        if [c == "rgb(251, 140, 0)" for c in colours] != [True, False, False, True]:
            failures.append(f"weekend cell, holiday, working day, legend painted {colours}, not the weekend colour")
        failures += fleet_report(sim, tmp, chromium)
    for f in failures:
        print("FAIL " + f)
    print("plan outputs: " + ("ok" if not failures else f"{len(failures)} failures"))
    return 1 if failures else 0


FLEET_INI = ("[GeneralOptions]\r\nVersion=1\r\nShutdownEnabled=1\r\nDailyReport=1\r\nShutdownAction=shutdown\r\n\r\n"
             "[ShutdownHolidays]\r\n24.12.#### = Christmas Eve\r\n\r\n[MsgHolidays]\r\n; end\r\n")


def fleet_report(sim, tmp, chromium):
    """Three hosts on two days: one halts, one whose shutdown call fails, one
    silent on the second day. The failed and the silent rows come first, in
    their colours."""
    directory = os.path.join(tmp, "fleet")
    os.makedirs(directory)
    with open(os.path.join(directory, "kalmora.ini"), "w", newline="") as f:
        f.write(FLEET_INI)
    files = []
    for computer, day, extra in (("PC-A", "24", ()), ("PC-A", "25", ()), ("PC-C", "24", ()),
                                 ("PC-B", "24", ("--without", "InitiateShutdownW")), ("PC-B", "25", ())):
        files.append(os.path.join(tmp, f"{computer}-{day}.xml"))
        subprocess.run([sim, "--dir", directory, "--computer", computer, "--service", "--start",
                        f"2026-12-{day} 07:50", "--until", f"2026-12-{day} 12:00", "--events-xml", files[-1], *extra],
                       check=True, capture_output=True)
    page = os.path.join(tmp, "report.html")
    status = subprocess.run([sim, "report", *files, "--watts", "60", "--format", "html", "-o", page]).returncode
    failures = [] if status == 1 else [f"report exit status {status}, not 1 (hosts need attention)"]
    artifacts = os.path.join(ROOT, "artifacts", "report")
    os.makedirs(artifacts, exist_ok=True)
    chromium(page, "--window-size=1400,900", "--screenshot=" + os.path.join(artifacts, "report.png"))
    with open(page) as f:
        html = f.read()
    probe = ("<script>document.body.insertAdjacentHTML('beforeend', '<pre id=probe>' + "
             "[...document.querySelectorAll('tr[class]')].map(r => r.cells[0].textContent + ' ' + r.className + ' ' + "
             "getComputedStyle(r).backgroundColor).join('|') + '</pre>');</script>")
    with open(os.path.join(tmp, "report-probe.html"), "w") as f:
        f.write(html.replace("</body>", probe + "</body>"))
    m = re.search(r"<pre id=\"probe\">([^<]*)</pre>", chromium(os.path.join(tmp, "report-probe.html"), "--dump-dom"))
    rows = m.group(1).split("|") if m else []
    wanted = ["PC-B failed rgb(255, 205, 210)", "PC-A halted rgb(200, 230, 201)", "PC-C halted rgb(200, 230, 201)",
              "PC-C silent rgb(225, 190, 231)", "PC-A no-halt-planned rgb(238, 238, 238)",
              "PC-B no-halt-planned rgb(238, 238, 238)"]
    if rows != wanted:
        failures.append(f"report rows as painted {rows}, not {wanted}")
    return failures


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
