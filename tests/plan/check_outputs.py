#!/usr/bin/python3
"""The plan's calendar and page as their readers see them: the ICS parsed by
a calendar library and compared with the JSON plan, and the HTML page
rendered by headless Chromium (a screenshot is kept in artifacts/plan/).

Usage: tests/plan/check_outputs.py PATH/TO/kalmora-sim
"""

import json
import os
import re
import subprocess
import sys
import tempfile

import icalendar

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def plan(sim, fmt, out):
    subprocess.run([sim, "plan", "--dir", os.path.join(ROOT, "examples", "program"), "--year", "2027",
                    "--format", fmt, "-o", out], check=True)


def main(sim):
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        paths = {fmt: os.path.join(tmp, "plan." + fmt) for fmt in ("json", "ics", "html")}
        for fmt, path in paths.items():
            plan(sim, fmt, path)
        days = json.load(open(paths["json"]))
        wanted = sorted([(d["date"], "shutdown") for d in days if d["halt"]] +
                        [(d["date"], "mail") for d in days for _ in d["mails"]])
        with open(paths["ics"], "rb") as f:
            calendar = icalendar.Calendar.from_ical(f.read())
        got = sorted((str(e.decoded("dtstart").date()), "shutdown" if "shutdown" in str(e["summary"]) else "mail")
                     for e in calendar.walk("VEVENT"))
        if got != wanted or len(got) != 3:
            failures.append(f"calendar events {got} != plan {wanted}")

        artifacts = os.path.join(ROOT, "artifacts", "plan")
        os.makedirs(artifacts, exist_ok=True)
        browser = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + os.path.join(tmp, "profile")]
        url = "file://" + paths["html"]
        dom = subprocess.run(browser + ["--dump-dom", url], capture_output=True, text=True, timeout=120).stdout
        subprocess.run(browser + ["--window-size=1400,1800", "--screenshot=" + os.path.join(artifacts, "plan.png"), url],
                       capture_output=True, timeout=120)

        def cell(date):
            m = re.search(r'<td id="d' + date + r'"([^>]*)>', dom)
            return m.group(1) if m else None

        eve, monday = cell("2027-12-24"), cell("2027-12-20")
        if eve is None or 'class="holiday"' not in eve or "Christmas Eve" not in eve:
            failures.append(f"24 December is not shown as a holiday shutdown: {eve}")
        if monday is None or "class=" in monday:
            failures.append(f"a working Monday is marked: {monday}")
        if not os.path.exists(os.path.join(artifacts, "plan.png")):
            failures.append("no screenshot")
    for f in failures:
        print("FAIL " + f)
    print("plan outputs: " + ("ok" if not failures else f"{len(failures)} failures"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
