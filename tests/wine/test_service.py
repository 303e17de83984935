"""Kalmora with the real service manager, event log and message boxes (on
Xvfb): -install, the service's start, settling wait and check, stop requests
at both ends of it, and -uninstall."""

import datetime
import os
import re
import subprocess
import time

from winelib import PROGRAM_DIR, TestFailure, avoid_midnight, ini, xwd_to_png

SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\Kalmora"
SOURCE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\Kalmora"
MB_ICONWARNING, MB_ICONINFORMATION = 0x30, 0x40


def message_box(case, p, args, shot=None):
    """Runs kalmora.exe ARGS, keeps a screenshot of its box when asked and
    closes the box with Return; returns MessageBoxA's caption, text, and
    buttons and icon."""
    case.boxes = getattr(case, "boxes", 0) + 1
    proc, log = p.start([PROGRAM_DIR + "\\kalmora.exe"] + args, f"box-{case.boxes}.log", "+relay",
                        os.environ["DISPLAY"])
    window, deadline = [], time.time() + 30
    while not window and proc.poll() is None and time.time() < deadline:
        time.sleep(0.2)
        window = subprocess.run(["xdotool", "search", "--name", "^Kalmora$"], capture_output=True,
                                text=True).stdout.split()
    case.require(window, f"no box titled Kalmora for {args} (exit code {proc.poll()})")
    time.sleep(1.0)  # let the box paint itself
    if shot:
        with open(case.artifact(shot + ".xwd"), "wb") as f:
            subprocess.run(["xwd", "-id", window[0], "-silent"], stdout=f, check=True)
        xwd_to_png(case.artifact(shot + ".xwd"), case.artifact(shot + ".png"))
    subprocess.run(["xdotool", "key", "Return"])
    try:
        case.exit_code = proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        raise TestFailure(f"kalmora.exe {' '.join(args)} did not end after its box was closed")
    calls = log.grep(r"Call user32\.MessageBoxA\(")
    case.require(len(calls) == 1, f"expected one MessageBoxA call, traced: {calls}")
    text, caption, flags = re.search(r'MessageBoxA\(\w+,\w+ "(.*)",\w+ "(.*)",(\w+)\)', calls[0]).groups()
    return caption, text, int(flags, 16) & 0xFF


def failed_box(case, p, arg, text, why):
    case.equal(message_box(case, p, [arg]), ("Kalmora", text + "\\r\\n\\r\\n" + why, MB_ICONWARNING),
               f"a second {arg}")
    case.equal(case.exit_code, 1, f"exit status of a failed {arg}")


def registry(p, key):
    """The key's values as `reg query` shows them, or None without the key."""
    rc, out = p.run(["reg", "query", key])
    return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\s*$", out, re.M)) if rc == 0 else None


def wait_state(p, wanted, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if re.search(r"STATE\s*:\s*\d+\s+" + wanted, p.sc("query", "Kalmora")):
            return time.time()
        time.sleep(0.25)
    raise TestFailure(f"the service did not reach {wanted} within {timeout} s:\n{p.sc('query', 'Kalmora')}")


def holiday_ini(version):
    return ini({"GeneralOptions": {"Version": version, "ShutdownEnabled": "1", "ShutdownDelay": "3600",
                                   "DecideDaily": "1", "MsgOnShutdownSession": "1"}},
               holidays=datetime.date.today().strftime("%d.%m.%Y") + "=Service Day")


def test_service(case):
    avoid_midnight(300)
    p = case.prefix()
    p.install(case.tool("kalmora.exe"))
    p.install(case.tool("kalmora_probe.exe"))
    p.write("kalmora.ini", holiday_ini("1"))
    # One session for the whole test (a new one would start the automatic
    # service by itself); the service manager and its services write their
    # traces, the event log among them, where its first process writes.
    _, session = p.sleeper(display=os.environ["DISPLAY"])

    case.equal(message_box(case, p, ["-install"], shot="install-msgbox"),
               ("Kalmora", "Kalmora Service successfully installed!", MB_ICONINFORMATION), "the -install box")
    service = registry(p, SERVICE_KEY) or {}
    case.equal({k: service.get(k) for k in ("Type", "Start", "DisplayName", "ImagePath")},
               {"Type": "0x110", "Start": "0x2", "DisplayName": "Kalmora Service",
                "ImagePath": '"C:\\kalmora\\kalmora.exe"'}, "the service (own process, interactive, automatic)")
    case.equal(registry(p, SOURCE_KEY), {"EventMessageFile": "C:\\kalmora\\kalmora.exe", "TypesSupported": "0x7"},
               "the event source, with the program as its message file")
    # What Event Viewer shows: the compiled message table turns each id into
    # the entry's own text.
    for event_id in ("109", "110"):
        out = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "message", PROGRAM_DIR + "\\kalmora.exe", event_id])[1]
        case.equal(out.strip(), "[<probe>]", f"message table text of id {event_id}")
    case.equal(case.exit_code, 0, "exit status of -install")
    # Scripts can tell a failure, and the box says why in the system's words.
    failed_box(case, p, "-install", "Kalmora Service could not be installed.", "Service exists.")
    # The argument string is the whole command line after the program name.
    case.equal(message_box(case, p, ["-install", "now"], shot="invalid-msgbox"),
               ("Kalmora", "Invalid command line parameter.", 0), "-install now")

    # Start, settle for 120 s, then the check runs (here: a holiday with a
    # countdown of an hour, so the service stays up); then a clean stop.
    p.sc("start", "Kalmora")
    running_at = wait_state(p, "RUNNING", 30)
    case.check(not session.events(), f"event-log entries before the settling wait ended: {session.events()}")
    entry = session.wait_for_event(lambda e: "Today is holiday" in e.text, 160, "the holiday entry of the check")
    settled = entry.seen_at - running_at
    case.check(118 <= settled <= 135, f"the check came {settled:.1f} s after the service ran; expected about 120 s")
    case.equal((entry.type, entry.text.split("\r\n")[0]),
               (4, "Kalmora: Today is holiday 'Service Day'. The host will shut down in 3600 seconds."), "holiday entry")
    case.note("session notice: " + entry.text.split("\r\n")[-1])
    # A resident service hears of resumes from sleep: stop and power events.
    controls = p.run([PROGRAM_DIR + "\\kalmora_probe.exe", "controls", "Kalmora"])[1].strip()
    case.equal(controls, "0x45", "controls accepted by the running service (stop, shutdown, power events)")
    case.note(f"check {settled:.1f} s after the service reported running")
    p.sc("stop", "Kalmora")
    wait_state(p, "STOPPED", 15)
    case.check("WIN32_EXIT_CODE    : 0" in p.sc("query", "Kalmora"), "a clean stop has exit code 0")

    # A stop during the settling wait ends the service before kalmora.ini is
    # read: with Version=0 the reading would log its warning at once.
    p.write("kalmora.ini", holiday_ini("0"))
    before = len(session.events())
    p.sc("start", "Kalmora")
    wait_state(p, "RUNNING", 30)
    time.sleep(5)
    stop_at = time.time()
    p.sc("stop", "Kalmora")
    stopped = wait_state(p, "STOPPED", 15) - stop_at
    case.check(stopped < 5, f"stop during the settling wait took {stopped:.1f} s")
    case.check("WIN32_EXIT_CODE    : 0" in p.sc("query", "Kalmora"), "a stop while settling has exit code 0")
    time.sleep(3)
    case.equal(session.events()[before:], [], "entries of the stopped service")

    case.equal(message_box(case, p, ["-uninstall"], shot="uninstall-msgbox"),
               ("Kalmora", "Kalmora Service successfully uninstalled!", MB_ICONINFORMATION), "the -uninstall box")
    case.equal((registry(p, SERVICE_KEY), registry(p, SOURCE_KEY)), (None, None), "service and source after -uninstall")
    failed_box(case, p, "-uninstall", "Kalmora Service could not be uninstalled.", "Service does not exist.")


TESTS = [("service", test_service)]
