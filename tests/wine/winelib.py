# The harness of the end-to-end tests under Wine, and their runner. Each
# test is a Case with a Wine prefix of its own, a copy of one booted
# template, whose program directory C:\kalmora holds kalmora.exe and
# kalmora_probe.exe. Event-log entries are read from Wine's +eventlog trace
# (information, warning and error entries as trace, warn and err lines); with
# +relay the calls in RELAY are traced with their arguments.

import collections, concurrent.futures, contextlib, datetime, os, pathlib, re, shutil, struct, subprocess  # noqa: E401
import functools, sys, tempfile, time, traceback, zlib  # noqa: E401

WINE, WINESERVER, PROGRAM_DIR = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver", "C:\\kalmora"
RELAY = ("user32.ExitWindowsEx;user32.MessageBoxA;advapi32.OpenProcessToken;advapi32.LookupPrivilegeValueA;"
         "advapi32.AdjustTokenPrivileges;kernel32.CreateProcessA;kernelbase.CreateProcessA")
# With +timestamp a line starts with Wine's tick count in seconds, which is
# the system's monotonic clock. Wine marks a text it cut with "...".
EVENT_RE = re.compile(r'^(\d+\.\d+):[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?$')
Event = collections.namedtuple("Event", "type text truncated seen_at")
ARTIFACTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "artifacts", "wine")


def poll(fn, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if result := fn():
            return result
        time.sleep(0.2)
    raise AssertionError(f"nothing within {timeout} s: {what}")


def wine_env(prefix, debug="-all", display=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
    # No Mono or Gecko installers: the programs need neither.
    env.update(WINELOADER=WINE, WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=prefix,
               WINEDEBUG=debug if debug.startswith("-") else "+timestamp," + debug)
    return dict(env, DISPLAY=display) if display else env


def grep(log, pattern):
    # The lines of a Wine process's stderr, read as it grows (whole lines only).
    with open(log, "rb") as f:
        return [s.rstrip("\r") for s in f.read().decode("latin-1").split("\n")[:-1] if re.search(pattern, s)]


def events(log):
    clock = time.time() - time.monotonic()  # Wine's tick count as wall-clock time
    escapes = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}  # debugstr_w's, undone
    # debugstr_w writes other characters as \xHH or as four hex digits.
    unescape = functools.partial(re.sub, r'\\(x[0-9a-fA-F]{1,4}|[0-9a-fA-F]{4}|[nrt\\"])',
                                 lambda m: escapes.get(m[1]) or chr(int(m[1].lstrip("x"), 16)))
    return [Event({"trace": 4, "warn": 2, "err": 1}[m[2]], unescape(m[3]), bool(m[4]), float(m[1]) + clock)
            for m in map(EVENT_RE.match, grep(log, ":eventlog:ReportEventW ")) if m]


class Case:
    # One test: its checks, its scratch directory and its Wine prefix.
    def __init__(self, name, build, scratch):
        self.name, self.build, self.failures, self.notes, self.checks = name, build, [], [], 0
        self.processes, self.cleanups = [], []  # killed, and called (a server's shutdown), by close()
        self.env = {}  # more variables for every Wine process: LC_ALL, DISPLAY
        self.display, self.workdir = os.environ.get("DISPLAY"), os.path.join(scratch, name)
        self.path = os.path.join(self.workdir, "prefix")
        self.program_dir = os.path.join(self.path, "drive_c", "kalmora")

    def own_display(self):
        # An X display of this test's own, so that windows titled "Kalmora"
        # of tests running side by side are never mistaken for its own. Xvfb
        # picks a free number and tells it through a pipe.
        read, write = os.pipe()
        self.processes.append(subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                                "-nolisten", "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        self.require(self.display[1:].isdigit(), "Xvfb did not start")
        return self.display

    def x(self, *args):
        # An X client (xdotool, xwd) on this test's display: its stdout.
        return subprocess.run(list(args), capture_output=True, env=dict(os.environ, DISPLAY=self.display)).stdout

    def open(self, template):
        os.makedirs(self.workdir)
        # Hard links for the system files, which nobody writes; real copies
        # of the registry, which the wine server rewrites.
        subprocess.run(["cp", "-al", template, self.path], check=True)
        for reg in ("system.reg", "user.reg", "userdef.reg"):
            os.unlink(os.path.join(self.path, reg))
            shutil.copy2(os.path.join(template, reg), self.path)
        os.makedirs(self.file("system"))
        for name in ("kalmora.exe", "kalmora_probe.exe"):
            self.install(name)

    def tool(self, name):
        top = name in ("kalmora.exe", "zorvane.exe", "kalmora-sim.exe", "kalmora-desk.exe")
        return os.path.join(self.build, *[] if top else ["wine-tests"], name)

    def file(self, name):
        return pathlib.Path(self.program_dir, *name.split("\\"))

    def install(self, name, as_name=None):
        shutil.copy2(self.tool(name), self.file(as_name or os.path.basename(name)))

    def write(self, name, text):
        self.file(name).write_bytes(dos(text))

    def curl(self):
        # system\curl.exe starts the Linux curl beside it and waits for it in
        # Wine's stead (tools/curl_shim.cpp).
        self.install("curl_shim.exe", "system\\curl.exe")
        os.symlink("/usr/bin/curl", self.file("system\\curl-linux.exe"))

    def mailer(self, before=""):
        # A send.bat that appends each mail to sent.log, read by sent().
        self.write("system\\send.bat", f"@echo off\n{before}type mail.tmp >> sent.log\n")

    def sent(self):
        return self.file("sent.log").read_bytes().decode("cp1252") if self.file("sent.log").exists() else ""

    def values(self, key, *flags):
        # {key: {name: (type, data)}} as `reg query KEY [/s]` shows them,
        # {} without the key; without flags only the key's own values, or None.
        rc, out, keys = *self.run("reg", "query", key, *flags), {}
        for line in out.splitlines() if rc == 0 else []:
            if line.startswith("HKEY_"):
                current = keys.setdefault(line.strip(), {})
            elif m := re.match(r"^\s+(\S+)\s+(REG_\w+)\s*(.*?)\s*$", line):
                current[m[1]] = (m[2], m[3])
        return keys if flags else next(iter(keys.values()), None)

    def service_keys(self):
        # The values of the service's key and of its event source's, or None.
        return [self.values(r"HKLM\System\CurrentControlSet\Services" + k) for k in (r"\Kalmora",
                                                                                    r"\EventLog\Application\Kalmora")]

    def sc(self, command, timeout=30):
        # `sc start` or `sc stop` (after `sc create` for "create") of Kalmora
        # and the wait for RUNNING or STOPPED: wait_state()'s answer.
        if command == "create":
            rc, out = self.run("sc", "create", "Kalmora", "binpath=", f'"{PROGRAM_DIR}\\kalmora.exe"')
            self.require(rc == 0, f"sc create: {out}")
        self.run("sc", "stop" if command == "stop" else "start", "Kalmora")
        return self.wait_state("STOPPED" if command == "stop" else "RUNNING", timeout)

    def wait_state(self, state, timeout):
        # The time the service reached the state, and its exit code then.
        pattern = r"STATE\s*:\s*\d+\s+" + state + r"[\s\S]*WIN32_EXIT_CODE\s*:\s*(\d+)"
        m = poll(lambda: re.search(pattern, self.run("sc", "query", "Kalmora")[1]), timeout, f"the service {state}")
        return time.time(), m[1]

    def start(self, args, log_name, debug="-all", display=None):
        # `wine64 ARGS` with stdout and stderr into a log file.
        log = os.path.join(self.workdir, log_name)
        with open(log, "ab") as out:
            env = dict(wine_env(self.path, debug, display), **self.env)
            self.processes.append(subprocess.Popen([WINE] + args, env=env, stdout=out, stderr=out,
                                                   stdin=subprocess.DEVNULL, cwd=self.program_dir))
        return self.processes[-1], log

    def run(self, *args, timeout=60):
        # `wine64 ARGS` to its end: its exit code and stdout.
        r = subprocess.run([WINE, *args], env=dict(wine_env(self.path), **self.env), capture_output=True,
                           stdin=subprocess.DEVNULL, cwd=self.program_dir, timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")

    def sleeper(self, debug="+eventlog", display=None):
        # A process that keeps the session, and with it the service manager
        # and its services, alive; the services inherit its stderr.
        p, log = self.start([PROGRAM_DIR + "\\kalmora_probe.exe", "sleep", "900"], "session.log", debug, display)
        # The session is up once the service manager answers. The polling
        # "sc" writes where the sleeper writes, with the same channels: under
        # load it may reach the wine server first, and then the service
        # manager inherits its stderr and WINEDEBUG.
        poll(lambda: self.start(["sc", "query", "eventlog"], "session.log", debug, display)[0].wait(30) == 0
             and grep(log, r"STATE\s*:\s*4\s+RUNNING"), 60, "the Wine session")
        return p, log

    def run_kalmora(self, label="kalmora"):
        # kalmora.exe started by hand, to the end of its session, which must
        # end with status 0: its event-log entries.
        proc, log = self.start([PROGRAM_DIR + "\\kalmora.exe"], f"{label}.log", debug="+eventlog")
        self.require(self.wait_session_end(proc, 150), f"{label}: the run did not end within 150 s")
        self.equal(proc.returncode, 0, f"{label}: exit status of kalmora.exe")
        return events(log)

    def wait_session_end(self, first, timeout):
        # True when every process of the prefix has ended. `first` (from
        # start()) is waited for first: before it runs there may be no server.
        deadline = time.time() + timeout
        with contextlib.suppress(subprocess.TimeoutExpired):
            first.wait(timeout=timeout)
            subprocess.run([WINESERVER, "-w"], env=wine_env(self.path), timeout=max(1, deadline - time.time()))
            # The server is still tearing down its socket when -w returns; a
            # client started at that moment fails with "connection reset".
            time.sleep(2)
            return True
        return False

    def close(self):
        # This prefix's own wine server ends every process of its session;
        # nothing outside the prefix is touched.
        subprocess.run([WINESERVER, "-k"], env=wine_env(self.path), capture_output=True, timeout=60)
        for p in self.processes:
            p.kill()
            p.wait(timeout=30)
        for cleanup in self.cleanups:
            cleanup()

    def check(self, condition, message):
        self.checks += 1
        self.failures += [] if condition else [message]
        return condition

    def require(self, condition, message):
        if not self.check(condition, message):
            raise AssertionError(self.failures.pop())

    def equal(self, actual, expected, what):
        return self.check(actual == expected, f"{what}:\n      expected {expected!r}\n      actual   {actual!r}")

    def events_equal(self, events, expected, what):
        # Event-log entries against (type, text) pairs; a text Wine cut in
        # its trace must be the start of the expected one.
        expected = [(t, e.text if e.truncated and text.startswith(e.text) else text)
                    for e, (t, text) in zip(events, expected)] + expected[len(events):]
        return self.equal([(e.type, e.text) for e in events], expected, what)


def dos(text):
    # Text as a Windows program reads it: CR LF line ends, code page 1252.
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp1252")


def stamped_version(path):
    # major.minor.revision of an executable's VS_FIXEDFILEINFO, found by its
    # signature and structure version 1.0.
    data = open(path, "rb").read()
    ms, ls = struct.unpack_from("<II", data, data.find(b"\xbd\x04\xef\xfe\x00\x00\x01\x00") + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


def ini(sections, holidays=(), msg_holidays=()):
    # A kalmora.ini from {section: {key: value}} and the two lists' rows.
    sections = [(s, [f"{k}={v}" for k, v in keys.items()]) for s, keys in sections.items()]
    return "".join(f"[{s}]\n" + "".join(row + "\n" for row in rows) + "\n"
                   for s, rows in sections + [("ShutdownHolidays", holidays), ("MsgHolidays", msg_holidays)])


def event_source(exe):
    # The event source's values: the program is its own message file.
    return {"EventMessageFile": ("REG_EXPAND_SZ", exe), "TypesSupported": ("REG_DWORD", "0x7")}


def today():
    # The tests start after midnight when fewer than 15 minutes are left of
    # the day (main()): no test's date changes while it runs.
    return datetime.date.today().strftime("%d.%m.%Y")


def screenshot(case, window, name):
    # The window as artifacts/wine/NAME.png, from a 32-bit TrueColor dump
    # (as Xvfb makes them) whose pixels are stored as B, G, R, unused.
    data = case.x("xwd", "-id", window, "-silent")
    h = struct.unpack(">25I", data[:100])
    width, height, bpl, pixels = h[4], h[5], h[12], data[h[0] + h[19] * 12:]
    rows = b"".join(b"\0" + bytes(pixels[y * bpl + x * 4 + c] for x in range(width) for c in (2, 1, 0))
                    for y in range(height))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body  # noqa: E731
                                + struct.pack(">I", zlib.crc32(kind + body)))
    os.makedirs(ARTIFACTS, exist_ok=True)
    with open(os.path.join(ARTIFACTS, name + ".png"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def run_case(name, fn, build, scratch):
    started, case = time.time(), Case(name, build, scratch)
    try:
        case.open(os.path.join(scratch, "template"))
        fn(case)
        case.check(case.checks, "the test checked nothing")
    except AssertionError as e:
        case.failures.append(str(e))
    except Exception:
        case.failures.append("unexpected error:\n" + traceback.format_exc())
    try:
        case.close()
    except Exception as e:  # a cleanup problem must not hide the result
        case.notes.append(f"cleanup: {e}")
    return case, time.time() - started


def main(argv, tests):
    if len(argv) < 2:
        sys.exit("usage: tests/wine/run BUILD_DIR [TEST...]   (a TEST \"faults\" runs every faults:CASE)")
    if not os.environ.get("DISPLAY"):  # the message boxes need one
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable] + argv)
    build, wanted = os.path.abspath(argv[1]), set(argv[2:])
    chosen = [(n, f) for n, f in tests if not wanted or {n, n.split(":")[0]} & wanted]
    if not chosen or not os.path.exists(os.path.join(build, "wine-tests")):
        sys.exit(f"no such test; the tests are {', '.join(n for n, _ in tests)}" if not chosen else
                 f"no {build}/wine-tests: build the windows preset first")
    scratch, started = tempfile.mkdtemp(prefix="kalmora-wine-"), time.time()
    shutil.rmtree(ARTIFACTS, ignore_errors=True)
    print(f"wine tests: {len(chosen)} tests in {scratch}", flush=True)
    for args in ["wineboot", "-i"], ["reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d", RELAY,
                                     "/f"]:
        subprocess.run([WINE] + args, env=wine_env(scratch + "/template"), capture_output=True, timeout=300, check=True)
    subprocess.run([WINESERVER, "-w"], env=wine_env(scratch + "/template"), timeout=120)
    # The seconds left of today: last midnight less now is a day less and these.
    left = (datetime.datetime.combine(datetime.date.today(), datetime.time()) - datetime.datetime.now()).seconds
    if left < 900:  # see today()
        time.sleep(left + 2)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(chosen)) as pool:
        futures = [pool.submit(run_case, n, f, build, scratch) for n, f in chosen]
        for case, seconds in (f.result() for f in concurrent.futures.as_completed(futures)):
            print(f"{'FAIL' if case.failures else 'PASS'} {case.name} ({seconds:.0f} s, {case.checks} checks)")
            print("".join(f"     {n}\n" for n in case.notes) + "".join(f"  -> {f}\n" for f in case.failures),
                  end="", flush=True)
            if case.failures:  # its logs are kept for a look afterwards
                failed += 1
                shutil.copytree(case.workdir, os.path.join(ARTIFACTS, case.name),
                                ignore=lambda _, names: [n for n in names if not n.endswith(".log")])
    shutil.rmtree(scratch, ignore_errors=True)
    print(f"wine tests took {time.time() - started:.0f} s\n{len(chosen) - failed} passed, {failed} failed")
    return 1 if failed else 0
