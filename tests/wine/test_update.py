"""The online update against an HTTP server on loopback, with the real curl:
a new configuration and a new program file, handed over to zorvane.exe; and a
configuration that the server does not have."""

import os

from loopback import FaultServer, install_curl
from winelib import PROGRAM_DIR, ini, stamped_version


def config(server_url, marker):
    return ini({
        "GeneralOptions": {"Version": "1", "UpdateEnabled": "1", "UpdateServer": server_url, "ExitAfterCheck": "1"},
        "Messaging": {"EmailSubject": marker},
    })


def report(local_exe, server_exe, local_ini, server_ini, lines):
    return ("Kalmora: Online update finished. Results:\r\n\r\n"
            f"Local  ExeVersion = {local_exe}\r\nServer ExeVersion = {server_exe}\r\n\r\n"
            f"Local  IniVersion = {local_ini}\r\nServer IniVersion = {server_ini}\r\n\r\n" + "\r\n".join(lines))


def crlf(text):
    return text.replace("\n", "\r\n").encode("ascii")


def test_update(case):
    current = stamped_version(case.tool("kalmora.exe"))
    newer = stamped_version(case.tool("next/kalmora.exe"))
    major, minor, revision = current.split(".")
    case.require(newer == f"{major}.{minor}.{int(revision) + 1}", f"the second build is stamped {newer}")

    server = FaultServer()
    try:
        run_update(case, server, current, newer)
    finally:
        server.close()


def run_update(case, server, current, newer):
    p = case.prefix()
    p.install(case.tool("kalmora.exe"))
    p.install(case.tool("zorvane.exe"))
    install_curl(p, case)
    p.write("kalmora.ini", config(server.url, "old configuration"))
    p.write("versions.idx", "[Versions]\nIniVersion=1\n")

    server.files["/kalmora/versions.idx.new"] = crlf(f"[Versions]\nExeVersion={newer}\nIniVersion=2\n")
    server.files["/kalmora/kalmora.ini.new"] = crlf(config(server.url, "new configuration"))
    with open(case.tool("next/kalmora.exe"), "rb") as f:
        server.files["/kalmora/kalmora.exe.new"] = f.read()

    # 1. Both files are newer: kalmora.ini is replaced here, kalmora.exe by
    # zorvane.exe, which starts the new program; that one finds nothing new
    # and ends after its check.
    proc, log = p.start([PROGRAM_DIR + "\\kalmora.exe"], "update.log", debug="+eventlog,+process")
    case.require(p.wait_session_end(150, first=proc), "the update run and the restarted program did not end within 150 s")
    case.events_equal(log.events(), [
        (4, report(current, newer, "1", "2", ["Configuration file updated to version 2.",
                                              f"Program file version {newer} was handed to the update helper, "
                                              "which puts it in place and starts it."])),
        (4, report(newer, newer, "2", "2", ["No files were updated."])),
    ], "event-log entries of the update and of the restarted program")
    case.equal(stamped_version(p.file("kalmora.exe")), newer, "version of the program file in place")
    case.check("new configuration" in p.read("kalmora.ini"), "kalmora.ini was not replaced")
    case.check("IniVersion=2" in p.read("versions.idx"), "versions.idx was not replaced")
    for leftover in ("kalmora.exe.new", "kalmora.ini.new", "versions.idx.new"):
        case.check(not os.path.exists(p.file(leftover)), f"{leftover} was left behind")
    asked = [path for path, _ in server.requests]
    case.equal(asked[:3], ["/kalmora/versions.idx.new", "/kalmora/kalmora.exe.new", "/kalmora/kalmora.ini.new"],
               "first requests to the server (index, then both files in one curl run)")

    # 2. The server offers configuration 3 but has no kalmora.ini.new: curl
    # saves the 404 page, which must not replace the live file.
    live = p.read("kalmora.ini")
    server.files["/kalmora/versions.idx.new"] = crlf(f"[Versions]\nExeVersion={newer}\nIniVersion=3\n")
    del server.files["/kalmora/kalmora.ini.new"]
    server.requests.clear()
    proc, log = p.start([PROGRAM_DIR + "\\kalmora.exe"], "missing.log", debug="+eventlog")
    case.require(p.wait_session_end(90, first=proc), "the run with a missing kalmora.ini.new did not end within 90 s")
    case.equal(p.read("kalmora.ini"), live, "kalmora.ini after a 404 for kalmora.ini.new")
    case.check("IniVersion=2" in p.read("versions.idx"), "versions.idx changed although nothing was installed")
    case.check(("/kalmora/kalmora.ini.new", "404") in server.requests,
               f"kalmora.ini.new was asked for and not found: {server.requests}")
    events = log.events()
    case.check(any(e.type == 1 and "kalmora.ini.new" in e.text for e in events),
               f"an error entry tells that the download was rejected: {events}")
    case.check(any(e.type == 4 and e.text.startswith("Kalmora: Online update finished. Results:")
                   and "Server IniVersion = 3" in e.text for e in events), f"the update report: {events}")
    case.check(not os.path.exists(p.file("kalmora.ini.new")), "the rejected kalmora.ini.new was left behind")


TESTS = [("update", test_update)]
