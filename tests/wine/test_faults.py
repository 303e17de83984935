"""Downloads and notices that go wrong, one prefix per case, with the real
curl against a loopback server that drops or drags files: whatever happens,
kalmora.ini, kalmora.exe and versions.idx are each either the old file or
the complete new one, and the day's check still runs (its [MsgHolidays]
mails reach send.bat, from the program and configuration that should be in
place)."""

import datetime
import functools
import os
import re

from loopback import FaultServer, install_curl
from test_update import crlf, report
from winelib import PROGRAM_DIR, avoid_midnight, ini, stamped_version

SLOW = 5  # seconds per file: longer than the 3 s Kalmora waits in any case
CUT = "the connection was closed before the file was complete (curl status 18)"
EXE_REFUSED = ("Kalmora: The program file kalmora.exe.new (version {newer}) was not installed and was deleted: {why}. "
               "The current kalmora.exe is kept.")
INI_REFUSED = ("Kalmora: The configuration file kalmora.ini.new (version 2) was not installed and was deleted: {why}. "
               "The current kalmora.ini is kept.")
HANDED = "Program file version {newer} was handed to the update helper, which puts it in place and starts it."

# offer: the server's (ExeVersion, IniVersion); faults: per served file;
# program: what the server has as kalmora.exe.new; keep/new: which files
# must end up as the new ones; mails: (subject, X-Mailer version) in order.
CASES = [
    dict(name="cut-program", offer=("{newer}", "1"), faults={"kalmora.exe.new": "cut"}, program="next/kalmora.exe",
         events=[(1, EXE_REFUSED.replace("{why}", CUT)),
                 (4, ("{current}", "{newer}", "1", "1",
                      [f"Program file version {{newer}} was not installed: {CUT}.", "No files were updated."]))],
         asked=[("versions.idx.new", "whole"), ("kalmora.exe.new", "cut")],
         new=(), mails=[("old 1", "{current}")]),
    dict(name="cut-configuration", offer=("{current}", "2"), faults={"kalmora.ini.new": "cut"}, program=None,
         events=[(1, INI_REFUSED.replace("{why}", CUT)),
                 (4, ("{current}", "{current}", "1", "2",
                      [f"Configuration file version 2 was not installed: {CUT}.", "No files were updated."]))],
         asked=[("versions.idx.new", "whole"), ("kalmora.ini.new", "cut")],
         new=(), mails=[("old 1", "{current}")]),
    dict(name="slow", offer=("{newer}", "2"),
         faults={"versions.idx.new": "slow", "kalmora.exe.new": "slow", "kalmora.ini.new": "slow"},
         program="next/kalmora.exe",
         events=[(4, ("{current}", "{newer}", "1", "2", ["Configuration file updated to version 2.", HANDED])),
                 (4, ("{newer}", "{newer}", "2", "2", ["No files were updated."]))],
         asked=[("versions.idx.new", "slow"), ("kalmora.exe.new", "slow"), ("kalmora.ini.new", "slow"),
                ("versions.idx.new", "slow")],
         new=("kalmora.ini", "kalmora.exe", "versions.idx"), mails=[("new 1", "{newer}"), ("new 2", "{newer}")]),
    dict(name="unstamped", offer=("{newer}", "1"), faults={}, program="kalmora_probe.exe",
         events=[(1, EXE_REFUSED.replace("{why}", "it carries no version stamp")),
                 (4, ("{current}", "{newer}", "1", "1",
                      ["Program file version {newer} was not installed: it carries no version stamp.",
                       "No files were updated."]))],
         asked=[("versions.idx.new", "whole"), ("kalmora.exe.new", "whole")],
         new=(), mails=[("old 1", "{current}")]),
    # send.bat takes longer than the 3 s pause for each of three mails.
    dict(name="slow-send", offer=("{current}", "1"), faults={}, program=None, send_pause=4, rows=3,
         events=[(4, ("{current}", "{current}", "1", "1", ["No files were updated."]))],
         asked=[("versions.idx.new", "whole")],
         new=(), mails=[("old 1", "{current}"), ("old 2", "{current}"), ("old 3", "{current}")]),
]


def config(url, tag, rows):
    today = datetime.datetime.now().strftime("%d.%m.%Y")
    return ini({
        "GeneralOptions": {"Version": "1", "UpdateEnabled": "1", "UpdateServer": url, "ExitAfterCheck": "1"},
        "Messaging": {"EmailAddress": "staff@example.com", "EmailSender": "kalmora@example.com"},
    }, msg_holidays="".join(f"{today},{tag} {i},Body {i},\n" for i in range(1, rows + 1)))


def contents(path):
    with open(path, "rb") as f:
        return f.read()


def expected_events(row, v):
    """(type, text); an update report is given as its report() arguments."""
    return [(t, report(*map(v, e[:4]), [v(line) for line in e[4]]) if isinstance(e, tuple) else v(e))
            for t, e in row["events"]]


def run_fault_case(row, case):
    versions = {"current": stamped_version(case.tool("kalmora.exe")),
                "newer": stamped_version(case.tool("next/kalmora.exe"))}
    v = lambda text: text.format(**versions)  # noqa: E731
    avoid_midnight(150)
    server = FaultServer()
    try:
        p = case.prefix()
        p.install(case.tool("kalmora.exe"))
        p.install(case.tool("zorvane.exe"))
        p.install(case.tool("kalmora_probe.exe"))
        install_curl(p, case)
        pause = f"{PROGRAM_DIR}\\kalmora_probe.exe sleep {row['send_pause']}\r\n" if row.get("send_pause") else ""
        p.write("system\\send.bat", f"@echo off\r\n{pause}type mail.tmp >> sent.log\r\n", crlf=False)
        p.write("kalmora.ini", config(server.url, "old", row.get("rows", 1)))
        p.write("versions.idx", "[Versions]\nIniVersion=1\n")

        exe_version, ini_version = map(v, row["offer"])
        served = {"versions.idx.new": crlf(f"[Versions]\nExeVersion={exe_version}\nIniVersion={ini_version}\n"),
                  "kalmora.ini.new": crlf(config(server.url, "new", 2))}
        if row["program"]:
            served["kalmora.exe.new"] = contents(case.tool(row["program"]))
        for name, data in served.items():
            server.files["/kalmora/" + name] = data
        for name, kind in row["faults"].items():
            data = served[name]
            # A configuration breaks off right after a whole [MsgHolidays]
            # row: what arrived reads as a valid, shorter configuration.
            at = data.index(b"\r\n", data.index(b"new 1")) + 2 if name == "kalmora.ini.new" else len(data) // 2
            server.faults["/kalmora/" + name] = (kind, SLOW if kind == "slow" else at)
        old = {name: contents(p.file(name)) for name in ("kalmora.ini", "kalmora.exe", "versions.idx")}
        new = {"kalmora.ini": served["kalmora.ini.new"], "kalmora.exe": served.get("kalmora.exe.new"),
               "versions.idx": served["versions.idx.new"]}

        proc, log = p.start([PROGRAM_DIR + "\\kalmora.exe"], "kalmora.log", debug="+eventlog")
        case.require(p.wait_session_end(150, first=proc), "the run did not end within 150 s")
        case.equal(proc.returncode, 0, "exit status of kalmora.exe")
        case.events_equal(log.events(), expected_events(row, v), "event-log entries")
        case.equal(server.requests, [("/kalmora/" + n, kind) for n, kind in row["asked"]], "requests to the server")
        for name, before in old.items():
            expected = new[name] if name in row["new"] else before
            case.check(contents(p.file(name)) == expected,
                       f"{name} is not the {'new' if name in row['new'] else 'old'} file byte for byte")
            case.check(not os.path.exists(p.file(name + ".new")), f"{name}.new was left behind")
        sent = p.read("sent.log") if os.path.exists(p.file("sent.log")) else ""
        case.equal(re.findall(r"^Subject: (.*)\r\nX-Mailer: Kalmora Service (.*)\r$", sent, re.M),
                   [(s, v(version)) for s, version in row["mails"]], "mails handed to send.bat (subject, version)")
    finally:
        server.close()


TESTS = [("faults:" + row["name"], functools.partial(run_fault_case, row)) for row in CASES]
