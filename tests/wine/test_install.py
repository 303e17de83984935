"""-install, -uninstall and a wrong argument, with real message boxes on Xvfb."""

import os
import re
import subprocess
import time

from winelib import PROGRAM_DIR, TestFailure, xwd_to_png

MB_ICONWARNING = 0x30
MB_ICONINFORMATION = 0x40
ICON_MASK = 0xF0


def message_box(case, prefix, args, display, shot=None):
    """Runs kalmora.exe ARGS, finds its message box, optionally keeps a
    screenshot of it, closes it with Return; returns (caption, text, flags)."""
    case.runs = getattr(case, "runs", 0) + 1
    proc, log = prefix.start([PROGRAM_DIR + "\\kalmora.exe"] + args, f"kalmora-{case.runs}.log",
                             debug="+msgbox,+relay", display=display)
    env = dict(os.environ, DISPLAY=display)
    window = None
    deadline = time.time() + 30
    while time.time() < deadline and window is None:
        r = subprocess.run(["xdotool", "search", "--name", "^Kalmora$"], env=env, capture_output=True, text=True)
        ids = r.stdout.split()
        window = ids[0] if ids else None
        if proc.poll() is not None and window is None:
            raise TestFailure(f"kalmora.exe {' '.join(args)} ended (exit {proc.returncode}) without a message box; "
                              f"trace: {log.grep('msgbox|MessageBox')}")
        time.sleep(0.2)
    case.require(window is not None, f"no window titled Kalmora appeared for {args}")
    time.sleep(1.0)  # let the box paint itself
    if shot:
        xwd = case.artifact(shot + ".xwd")
        with open(xwd, "wb") as f:
            subprocess.run(["xwd", "-root", "-silent"], env=env, stdout=f, check=True)
        xwd_to_png(xwd, case.artifact(shot + ".png"), crop="content")
    subprocess.run(["xdotool", "key", "Return"], env=env)
    try:
        proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        raise TestFailure(f"kalmora.exe {' '.join(args)} did not end after its message box was closed")
    calls = log.grep(r"Call user32\.MessageBoxA\(")
    case.require(len(calls) == 1, f"expected one MessageBoxA call, traced: {calls}")
    m = re.search(r'MessageBoxA\(\w+,\w+ "(.*)",\w+ "(.*)",(\w+)\)', calls[0])
    case.require(m is not None, f"cannot read the MessageBoxA call: {calls[0]}")
    return m.group(2), m.group(1), int(m.group(3), 16), proc.returncode


def test_install_uninstall(case):
    display = os.environ.get("DISPLAY")
    case.require(display, "no X display: run the Wine tests under xvfb-run")
    p = case.prefix()
    p.install(case.tool("kalmora.exe"))
    p.install(case.tool("kalmora_probe.exe"))
    # One session for the whole test: a new session would start the
    # freshly installed automatic service by itself.
    p.sleeper(debug="-all", display=display)

    caption, text, flags, rc = message_box(case, p, ["-install"], display, shot="install-msgbox")
    case.equal(caption, "Kalmora", "caption of the -install box")
    case.equal(text, "Kalmora Service successfully installed!", "text of the -install box")
    case.equal(flags & ICON_MASK, MB_ICONINFORMATION, "icon of the -install box")
    case.equal(flags & 0xF, 0, "buttons of the -install box (MB_OK)")

    rc, qc = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "qc", "Kalmora"])
    config = dict(line.split("=", 1) for line in qc.splitlines() if "=" in line)
    case.equal(config.get("START_TYPE"), "2", "start type (automatic)")
    case.equal(config.get("DISPLAY_NAME"), "Kalmora Service", "display name")
    case.equal(config.get("BINARY_PATH_NAME"), '"C:\\kalmora\\kalmora.exe"', "program path")
    case.equal(config.get("TYPE"), "110", "service type (own process, interactive)")

    rc, reg = p.run(["reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Kalmora"])
    case.check(re.search(r"EventMessageFile\s+REG_EXPAND_SZ\s+C:\\kalmora\\kalmora\.exe", reg),
               f"event source Kalmora with the program as its message file, registry shows:\n{reg}")
    # What Event Viewer would show: the compiled message table turns each
    # id into the entry's own text.
    for event_id in ("109", "110"):
        rc, out = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "message", PROGRAM_DIR + "\\kalmora.exe", event_id])
        case.equal(out.strip(), "[<probe>]", f"message table text of id {event_id}")

    caption, text, flags, rc = message_box(case, p, ["-install"], display)
    case.equal(text, "Kalmora Service could not be installed.", "text of a second -install")
    case.equal(flags & ICON_MASK, MB_ICONWARNING, "icon of a failed -install")

    caption, text, flags, rc = message_box(case, p, ["-uninstall"], display, shot="uninstall-msgbox")
    case.equal(text, "Kalmora Service successfully uninstalled!", "text of the -uninstall box")
    case.equal(flags & ICON_MASK, MB_ICONINFORMATION, "icon of the -uninstall box")
    rc, qc = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "qc", "Kalmora"])
    case.check(rc != 0, f"the service is still registered after -uninstall:\n{qc}")
    rc, reg = p.run(["reg", "query", "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Kalmora"])
    case.check(rc != 0, f"the event source is still registered after -uninstall:\n{reg}")

    caption, text, flags, rc = message_box(case, p, ["-uninstall"], display)
    case.equal(text, "Kalmora Service could not be uninstalled.", "text of a second -uninstall")
    case.equal(flags & ICON_MASK, MB_ICONWARNING, "icon of a failed -uninstall")

    for args in (["-INSTALL"], ["-install", "now"]):
        caption, text, flags, rc = message_box(case, p, args, display, shot="invalid-msgbox" if args == ["-INSTALL"]
                                               else None)
        case.equal(caption, "Kalmora", f"caption for {args}")
        case.equal(text, "Invalid command line parameter.", f"text for {args}")
        case.equal(flags & ICON_MASK, 0, f"no icon for {args}")
    rc, qc = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "qc", "Kalmora"])
    case.check(rc != 0, "an invalid argument registered the service")


TESTS = [("install", test_install_uninstall)]
