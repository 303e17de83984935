# Kalmora with the real service manager, event log and message boxes (on
# Xvfb): -install, the start, the settling wait and the check, stops at both
# ends of the wait, and -uninstall.

import contextlib, datetime, functools, hashlib, os, re, subprocess, time  # noqa: E401

from test_faults import update_key, updating
from winelib import PROGRAM_DIR, dos, event_source, events, grep, ini, poll, screenshot, stamped_version, today

MB_ICONWARNING, MB_ICONINFORMATION = 0x30, 0x40


def message_box(case, args, shot=None):
    # kalmora.exe ARGS, its box kept as a screenshot when asked and closed
    # with Return: MessageBoxA's caption, text, icon and buttons; the status.
    proc, log = case.start([PROGRAM_DIR + "\\kalmora.exe"] + args, f"box-{len(case.processes)}.log", "+relay",
                           case.display)
    window = poll(lambda: desk_windows(case), 30, f"a box titled Kalmora for {args}")
    time.sleep(1.0)  # let the box paint itself
    if shot:
        screenshot(case, window[0], shot)
    case.x("xdotool", "key", "Return")
    status = proc.wait(timeout=20)
    calls = grep(log, r"Call user32\.MessageBoxA\(")
    case.require(len(calls) == 1, f"expected one MessageBoxA call, traced: {calls}")
    text, caption, flags = re.search(r'MessageBoxA\(\w+,\w+ "(.*)",\w+ "(.*)",(\w+)\)', calls[0]).groups()
    return caption, text, int(flags, 16) & 0xFF, status


def box(verb, why=None):
    # What -install or -uninstall shows and its status: a failure says why
    # in the system's words.
    return (("Kalmora", f"Kalmora Service successfully {verb}ed!", MB_ICONINFORMATION, 0) if why is None else
            ("Kalmora", f"Kalmora Service could not be {verb}ed.\\r\\n\\r\\n{why}", MB_ICONWARNING, 1))


def test_service(case):
    holiday_ini = lambda version: ini({"GeneralOptions": {  # noqa: E731
        "Version": version, "ShutdownEnabled": "1", "ShutdownDelay": "3600", "DecideDaily": "1",
        "MsgOnShutdownSession": "1"}}, holidays=[today() + "=Service Day"])
    case.write("kalmora.ini", holiday_ini("1"))
    # One session for the whole test (a new one would start the automatic
    # service by itself), whose services trace where its first process writes.
    _, session = case.sleeper(display=case.own_display())

    case.equal(message_box(case, ["-install"], "install-msgbox"), box("install"), "-install")
    service, source = case.service_keys()
    case.equal({k: (service or {}).get(k, (None, None))[1] for k in ("Type", "Start", "DisplayName", "ImagePath")},
               {"Type": "0x110", "Start": "0x2", "DisplayName": "Kalmora Service",
                "ImagePath": '"C:\\kalmora\\kalmora.exe"'}, "the service (own process, interactive, automatic)")
    case.equal(source, event_source("C:\\kalmora\\kalmora.exe"), "the event source")
    # The failure actions (restart after 60 s twice, then nothing) went to
    # the service manager once; Wine 8 keeps none and traces only the reset
    # period, reboot message and command.
    case.equal([line.split(": ", 1)[1] for line in grep(session, "SERVICE_CONFIG_FAILURE_ACTIONS")],
               ["period 86400 msg (null) cmd (null)"], "failure actions given to the service manager")
    # Event Viewer's text of each id: the entry's own (the message table).
    case.equal([case.run(PROGRAM_DIR + "\\kalmora_probe.exe", "message", PROGRAM_DIR + "\\kalmora.exe", i)[1].strip()
                for i in ("109", "110", "111")], ["[<probe>]"] * 3, "message table texts of ids 109, 110 and 111")
    case.equal(message_box(case, ["-install"]), box("install", "Service exists."), "a second -install")
    # The argument string is the whole command line after the program name.
    case.equal(message_box(case, ["-install", "now"], "invalid-msgbox")[:3],
               ("Kalmora", "Invalid command line parameter.", 0), "-install now")

    # Start, settle for 120 s, then the check runs (here: a holiday with a
    # countdown of an hour, so the service stays up); then a clean stop.
    running_at, _ = case.sc("start")
    case.equal(events(session), [], "event-log entries before the settling wait ended")
    entry = poll(lambda: [e for e in events(session) if "Today is holiday" in e.text], 160, "the holiday entry")[0]
    settled = entry.seen_at - running_at
    case.check(118 <= settled <= 135, f"the check came {settled:.1f} s after the service ran; expected about 120 s")
    case.notes.append(f"check {settled:.1f} s after the service ran; notice: " + entry.text.split("\r\n")[-1])
    # A resident service hears of resumes from sleep: stop and power events.
    case.equal(case.run(PROGRAM_DIR + "\\kalmora_probe.exe", "controls", "Kalmora")[1].strip(), "0x45",
               "controls accepted (stop, shutdown, power events)")
    case.equal(case.sc("stop", 15)[1], "0", "exit code of a clean stop")

    # A stop during the settling wait ends the service before kalmora.ini is
    # read: with Version=0 the reading would log its warning at once.
    case.write("kalmora.ini", holiday_ini("0"))
    before = len(events(session))
    case.sc("start")
    time.sleep(5)
    stop_at = time.time()
    stopped_at, code = case.sc("stop", 15)
    case.check(stopped_at - stop_at < 5, f"stop during the settling wait took {stopped_at - stop_at:.1f} s")
    case.equal(code, "0", "exit code of a stop while settling")
    time.sleep(3)
    case.equal(events(session)[before:], [], "entries of the stopped service")

    # -uninstall stops a running service first, then removes it.
    case.sc("start")
    case.equal(message_box(case, ["-uninstall"], "uninstall-msgbox"), box("uninstall"), "-uninstall")
    case.equal(case.service_keys(), [None, None], "service and source after -uninstall")
    poll(lambda: not kalmora_processes(case), 15, "no kalmora.exe left after -uninstall")
    case.equal(message_box(case, ["-uninstall"]), box("uninstall", "Service does not exist."), "a second -uninstall")


def kalmora_processes(case):
    # The kalmora.exe processes of this prefix, by their Unix process ids.
    def read(pid, name):
        with contextlib.suppress(OSError), open(f"/proc/{pid}/{name}", "rb") as f:
            return f.read()
        return b""
    return [int(pid) for pid in filter(str.isdigit, os.listdir("/proc"))
            if b"kalmora.exe" in read(pid, "cmdline").lower()
            and f"WINEPREFIX={case.path}".encode() in read(pid, "environ").split(b"\0")]


def test_update_service(case):
    # A signed program update while Kalmora runs as a service: CNG verifies
    # the index (signed by openssl, as an administrator would), the service
    # stops, Zorvane swaps the file and the service manager starts the new
    # program, which stays the host's one Kalmora under the service manager.
    nxt = stamped_version(case.tool("next/kalmora.exe"))
    server = updating(case, exit_after_check="0")
    key = os.path.join(case.workdir, "update.key")
    update_key(case, key)
    program = open(case.tool("next/kalmora.exe"), "rb").read()
    expires = datetime.date.today() + datetime.timedelta(days=30)
    index = dos(f"[Versions]\nExeVersion={nxt}\nIniVersion=NO_UPDATE\n"
                f"ExeSha256={hashlib.sha256(program).hexdigest()}\nExpires={expires}\n")
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=index, capture_output=True,
                               check=True).stdout
    server.serve({"versions.idx.new": index, "versions.idx.sig": signature, "kalmora.exe.new": program})
    _, session = case.sleeper(display=case.own_display())
    case.sc("create")
    first = kalmora_processes(case)
    case.equal(len(first), 1, "kalmora.exe processes of the started service")
    # A second Kalmora by hand ends at once with its box, sending nothing.
    caption, text, icon, status = message_box(case, ["-debug"], "already-running-msgbox")
    case.check(re.fullmatch(r"Kalmora is already running \(process \d+\); this start ends\.", text), text)
    case.equal((caption, icon, status), ("Kalmora", MB_ICONWARNING, 1), "-debug beside the service")

    # The hand-over comes after the settling wait; Zorvane swaps the file
    # and the service manager starts the new program, and only that.
    poll(lambda: stamped_version(case.file("kalmora.exe")) == nxt, 180, "the new kalmora.exe in place")
    case.wait_state("RUNNING", 60)
    case.equal(len(poll(lambda: kalmora_processes(case) if set(kalmora_processes(case)) - set(first) else None,
                        30, "the new process")), 1, "kalmora.exe processes after the hand-over")
    # The new program settles, finds nothing newer and mails the day's
    # message holiday as the service it is.
    mail = poll(case.sent, 170, "the restarted program's mail")
    case.check("X-Kalmora-RunningAsService: 1\r\n" in mail and f"X-Mailer: Kalmora Service {nxt}\r\n" in mail,
               f"the restarted program's mail:\n{mail}")
    case.equal(case.sc("stop")[1], "0", "exit code of the stopped new program")
    poll(lambda: not kalmora_processes(case), 15, "no kalmora.exe left after sc stop")
    case.equal([e.text for e in events(session) if e.type == 1], [], "error entries")


def desk_windows(case):
    return case.x("xdotool", "search", "--name", "^Kalmora$").decode().split()


def test_desk(case):
    # The countdown window in the logged-on session (Wine's session 1, on
    # Xvfb), started by the service as that session's user; a postpone from
    # it moves the halt, which then ends the Wine session (and only that).
    case.install("kalmora-desk.exe")
    name = 'Tag der "K\u00f6nige" 100%'
    case.write("kalmora.ini", ini({"GeneralOptions": {"Version": "1", "ShutdownEnabled": "1", "ShutdownDelay": "60"},
                                   "Desktop": {"CountdownWindow": "1", "PostponeMinutes": "1"}},
                                  holidays=[f"{today()} = {name}"]))
    _, session = case.sleeper(debug="+eventlog,+relay", display=case.own_display())
    # A garbled command line ends at once, showing nothing, and says so in
    # its status (Wine hands on its low byte).
    garbled, _ = case.start([PROGRAM_DIR + "\\kalmora-desk.exe", "--countdown", "--in", "x"], "garbled.log",
                            display=case.display)
    case.equal(garbled.wait(30), 200002 & 0xFF, "status of kalmora-desk.exe with a garbled command line")
    case.sc("create")
    window = poll(lambda: desk_windows(case), 170, "the countdown window")[0]
    shown_at = time.time()
    time.sleep(2)  # let it paint and count a second
    screenshot(case, window, "desk-countdown")
    notice = [e for e in events(session) if "Today is holiday" in e.text]
    case.equal([e.text for e in notice], [f"Kalmora: Today is holiday '{name}'. The host will shut down in 60 seconds."],
               "the holiday entry")
    # Idle mode: the seconds since the last input, growing while there is none.
    first = case.run(PROGRAM_DIR + "\\kalmora-desk.exe", "--idle")[0]
    time.sleep(3)
    second = case.run(PROGRAM_DIR + "\\kalmora-desk.exe", "--idle")[0]
    case.check(second >= first + 2, f"idle seconds without input: {first}, then {second} 3 s later")
    # Tab to "Postpone 1 minute" and press it.
    case.x("xdotool", "windowfocus", "--sync", window)
    case.x("xdotool", "key", "--window", window, "Tab", "space")
    clicked_at = time.time()
    after = case.run(PROGRAM_DIR + "\\kalmora-desk.exe", "--idle")[0]
    case.check(after <= 2, f"idle seconds right after keys in the window: {after}")
    postponed = poll(lambda: [e for e in events(session) if "was postponed" in e.text], 30, "the postpone entry")[0]
    case.check(re.fullmatch(r"Kalmora: The shutdown due at \d\d:\d\d:\d\d was postponed by 1 minute to "
                            r"\d\d:\d\d:\d\d from session 1( \(user .*\))?\.", postponed.text), postponed.text)
    # A new window shows the new moment; the halt comes a minute after the
    # click instead of a minute after the notice.
    poll(lambda: desk_windows(case), 20, "the window with the new moment")
    halt = poll(lambda: [e for e in events(session) if "going down for system halt" in e.text], 120, "the halt")[0]
    case.check(halt.seen_at - clicked_at >= 50, f"the halt came {halt.seen_at - clicked_at:.0f} s after the postpone "
               f"(the window showed {clicked_at - shown_at:.0f} s before it)")
    case.check(halt.seen_at - notice[0].seen_at >= 70 if notice else False, "the halt was not moved")
    case.notes.append(f"desk: postponed {clicked_at - shown_at:.0f} s after the window came; halt "
                      f"{halt.seen_at - clicked_at:.0f} s after the click; idle {first} s, {second} s, then {after} s")


# The countdown window by itself, as the service starts it, in the session's
# UI language: Wine takes it from LC_ALL, given to every Wine process from
# the session's first on (LANG alone left it English). kalmora_probe.exe's
# "texts" reads back what the controls show: heading, action, time left or
# what the halt waits for, advice, OK and postpone. Wine hands on the low
# byte of the window's exit status.
HIBERNATE = ["--countdown", "--reason", "Heilige Drei K\u00f6nige", "--at", "20:00:00", "--in", "600", "--postpone",
             "15", "--latest", "22:00", "--action", "hibernate"]
WINDOW_TEXTS = {  # LC_ALL; action and progress counting down, and waiting for backup.exe; advice; postpone
    "de": ("de_DE.UTF-8",
           ("Dieser Computer geht um 20:00:00 in den Ruhezustand; ge\u00f6ffnete Programme bleiben, wie sie sind.",
            "Verbleibende Zeit: M:SS"),
           ("Dieser Computer geht in den Ruhezustand, sobald die Wartezeit vorbei ist; ge\u00f6ffnete Programme "
            "bleiben, wie sie sind.", "Es wird gewartet, solange backup.exe l\u00e4uft."),
           "Speichern Sie jetzt Ihre Arbeit. Es geschieht sp\u00e4testens um 22:00.", "Um 15 Minuten verschieben"),
    "en": ("C.UTF-8",
           ("This computer goes into hibernation at 20:00:00; open programs stay as they are.", "Time left: M:SS"),
           ("This computer goes into hibernation as soon as the wait is over; open programs stay as they are.",
            "It waits while backup.exe runs."),
           "Save your work now. It happens at 22:00 at the latest.", "Postpone 15 minutes"),
}


def test_desk_window(case, language):
    locale, counting, waiting, advice, postpone = WINDOW_TEXTS[language]
    case.env = {"LC_ALL": locale, "DISPLAY": case.own_display()}
    case.install("kalmora-desk.exe")
    probe = PROGRAM_DIR + "\\kalmora_probe.exe"
    texts = lambda: case.run(probe, "texts")[1].encode("latin-1").decode().splitlines()  # noqa: E731

    def show(args, name):
        proc, _ = case.start([PROGRAM_DIR + "\\kalmora-desk.exe"] + args, name + ".log")
        return proc, poll(lambda: desk_windows(case), 30, f"the window of {name}")[0]

    # Return on OK; Tab and Space on the postpone button of a waiting halt,
    # whose line does not count.
    for name, args, lines, keys, answer in (
            (f"desk-{language}", HIBERNATE, counting, ["Return"], 200000),
            (f"desk-{language}-waits", HIBERNATE + ["--waits", "program:backup.exe"], waiting, ["Tab", "space"],
             200001)):
        proc, window = show(args, name)
        first = texts()
        time.sleep(2)  # painted, and counted down if it counts
        screenshot(case, window, name)
        case.equal([re.sub(r"\d+:\d\d$", "M:SS", t) for t in first],
                   ["Heilige Drei K\u00f6nige", *lines, advice, "OK", postpone], f"{name}: the window's texts")
        case.equal(texts()[2] != first[2], lines is counting, f"{name}: the progress line changed within 2 s")
        # Keys to the focus (XTEST): sent to the window itself, some were lost.
        case.x("xdotool", "windowfocus", "--sync", window)
        case.x("xdotool", "key", *keys)
        case.equal(proc.wait(timeout=20), answer & 0xFF, f"{name}: exit status after {' '.join(keys)}")
    # A window ended from outside, found among the running programs by name
    # with its process id, answers neither OK nor postpone.
    proc, _ = show(HIBERNATE, "killed")
    pids = re.findall(r"^kalmora-desk\.exe=(\d+)\r?$", case.run(probe, "host")[1], re.M)
    case.require(len(pids) == 1, f"one kalmora-desk.exe among the running programs: {pids}")
    case.run("taskkill", "/F", "/PID", pids[0])
    killed = proc.wait(timeout=20)
    case.check(killed not in (200000 & 0xFF, 200001 & 0xFF), f"the killed window's status {killed} is an answer")


TESTS = [("update-service", test_update_service), ("desk", test_desk), ("service", test_service)] + [
    (f"desk-window:{language}", functools.partial(test_desk_window, language=language)) for language in WINDOW_TEXTS]
