# Our tools as an administrator at Windows runs them: kalmora-sim.exe's check
# and plan on a Windows path, with a kalmora.ini in the ANSI code page, and
# its report of events it simulated, exported as PowerShell writes them; and
# the cases that our portable profile lookup is tested against, put to
# Wine's GetPrivateProfileStringA.

import json
import re

from winelib import PROGRAM_DIR, ini


def test_sim(case):
    case.install("kalmora-sim.exe")
    # Windows-1252 umlauts read as they are; a typed ScheduledShutdownTime is
    # caught on its line.
    general = {"Version": "1", "ShutdownEnabled": "1", "MsgOnShutdownEmail": "1"}
    case.write("kalmora.ini", ini({"GeneralOptions": general,
                                "Messaging": {"EmailAddress": "büro@example.com", "EmailSubject": "Grüße"},
                                "ScheduledShutdown": {"ScheduledShutdown": "1", "ScheduledShutdownTime": "7:30"}},
                               holidays=["24.12.#### = Heiligabend"], msg_holidays=['23.12.####,"Frohe Feste",x,']))
    case.write("system\\send.bat", "@exit /b 0\n")
    rc, out = case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "check", PROGRAM_DIR + "\\kalmora.ini")
    case.equal((rc, out.replace("\r\n", "\n")),
               (1, "kalmora.ini:12: warning: ScheduledShutdownTime=7:30 arms nothing: the hours are the first two and "
                   "the minutes the last two characters; write it as HH:MM (07:30)\n"
                   "kalmora.ini: 0 errors, 1 warning, 0 notes\n"), "check of a file in the ANSI code page")
    rc, out = case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "plan", "--dir", PROGRAM_DIR, "--from", "2026-12-23",
                       "--days", "2")
    # The records carry the ANSI texts as UTF-8.
    case.equal((rc, out.encode("latin-1").decode("utf-8").replace("\r\n", "\n")),
               (0, "2026-12-23 Wed  no shutdown\n    mail   08:00:00 to büro@example.com: Frohe Feste\n"
                   "2026-12-24 Thu  shutdown at 08:03:03 (holiday Heiligabend)\n"
                   "    notice 08:00:00 to büro@example.com: Heiligabend\n"), "plan on a Windows path")
    # Two hosts on Christmas Eve, one silent the day after; the report read
    # with XmlLite from UTF-16 with a byte-order mark, one event cut off.
    case.write("kalmora.ini", ini({"GeneralOptions": dict(general, DailyReport="1")}, holidays=["24.12.#### = Heiligabend"]))
    files = []
    for computer, day in (("PC-A", "24"), ("PC-A", "25"), ("PC-B", "24")):
        files.append(f"{computer}-{day}.xml")
        case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "--dir", PROGRAM_DIR, "--computer", computer, "--service",
                 "--start", f"2026-12-{day} 07:50", "--until", f"2026-12-{day} 12:00", "--events-xml",
                 PROGRAM_DIR + "\\" + files[-1])
    xml = "".join(case.file(f).read_text() for f in files)
    case.file("events.xml").write_bytes(("<Events>\r\n" + xml + xml[:150] + "</Events>").encode("utf-16"))
    rc, out = case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "report", PROGRAM_DIR + "\\events.xml", "--format", "json",
                       "--utc-offset", "0")
    rows = [(r["date"], r["computer"], r["outcome"]) for r in map(json.loads, out.splitlines())]
    case.equal((rc, rows), (1, [("2026-12-24", "PC-A", "halted"), ("2026-12-24", "PC-B", "halted"),
                                ("2026-12-25", "PC-B", "silent"), ("2026-12-25", "PC-A", "no halt planned")]),
               "the report of a fleet, read with XmlLite")


def test_profile_lookup(case):
    case.install("profile_lookup_diff.exe")
    rc, out = case.run(PROGRAM_DIR + "\\profile_lookup_diff.exe", timeout=300)
    # At least 1,000 cases, none of which differs.
    summary = re.search(r"profile lookup: (\d+) cases, 0 differ", out)
    case.check(rc == 0 and summary and int(summary[1]) >= 1000, f"profile_lookup_diff.exe, exit code {rc}:\n{out}")
    case.notes += [summary[0]] if summary else []


TESTS = [("sim", test_sim), ("profile-lookup", test_profile_lookup)]
