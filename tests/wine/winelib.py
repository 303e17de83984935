"""Helpers for the end-to-end tests under Wine. Every test gets its own
prefix, a copy of one booted template, with the program directory C:\\kalmora.
Event-log entries are read from Wine's +eventlog trace (information, warning
and error entries as trace, warn and err lines); with +relay the calls in
RELAY_INCLUDE are traced with their arguments."""

import collections
import contextlib
import datetime
import os
import re
import shutil
import signal
import struct
import subprocess
import time
import traceback
import zlib

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
PROGRAM_DIR = "C:\\kalmora"
RELAY_INCLUDE = ("user32.ExitWindowsEx;user32.MessageBoxA;advapi32.OpenProcessToken;advapi32.LookupPrivilegeValueA;"
                 "advapi32.AdjustTokenPrivileges;kernel32.CreateProcessA;kernelbase.CreateProcessA")
EVENT_TYPES = {"trace": 4, "warn": 2, "err": 1}
# With +timestamp a line starts with Wine's tick count in seconds, which is
# the system's monotonic clock (time.monotonic()). Wine cuts a long text and
# marks the cut with "...".
EVENT_RE = re.compile(r'^(\d+\.\d+):[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?$')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}

Event = collections.namedtuple("Event", "type text truncated seen_at")


class TestFailure(Exception):
    pass


def base_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
    # No Mono or Gecko installers: the programs need neither.
    env.update(WINELOADER=WINE, WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all")
    return env


def make_template(path, log):
    """Boots one prefix; every test copies it."""
    env = dict(base_env(), WINEPREFIX=path)
    started = time.time()
    for args in (["wineboot", "-i"], ["reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d",
                                      RELAY_INCLUDE, "/f"]):
        subprocess.run([WINE] + args, env=env, capture_output=True, timeout=300, check=True)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
    log(f"template prefix booted in {time.time() - started:.1f} s")


def decode_debugstr(text):
    """The text of Wine's debugstr_w with its C escapes undone."""
    return re.sub(r'\\(x[0-9a-fA-F]{1,4}|[nrt\\"])', lambda m: ESCAPES.get(m[1]) or chr(int(m[1][1:], 16)), text)


class TraceLog:
    """A Wine process's stderr in a file, read as it grows (whole lines only)."""

    def __init__(self, path):
        self.path = path

    def grep(self, pattern):
        try:
            with open(self.path, "rb") as f:
                lines = f.read().decode("latin-1").split("\n")[:-1]
        except FileNotFoundError:
            return []
        return [line.rstrip("\r") for line in lines if re.search(pattern, line)]

    def events(self):
        clock = time.time() - time.monotonic()  # Wine's tick count as wall-clock time
        return [Event(EVENT_TYPES[m[2]], decode_debugstr(m[3]), bool(m[4]), float(m[1]) + clock)
                for m in map(EVENT_RE.match, self.grep(":eventlog:ReportEventW ")) if m]

    def wait_for_event(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = [e for e in self.events() if predicate(e)]
            if found:
                return found[0]
            time.sleep(0.2)
        raise TestFailure(f"timed out after {timeout} s waiting for {what}; event log: {self.events()}")


class WinePrefix:
    """A fresh prefix (a copy of the template) with the program directory."""

    def __init__(self, case, template, name):
        self.case = case
        self.path = os.path.join(case.workdir, name)
        # Hard links for the (never written) system files, real copies of
        # the registry, which the wine server rewrites.
        subprocess.run(["cp", "-al", template, self.path], check=True)
        for reg in ("system.reg", "user.reg", "userdef.reg"):
            os.unlink(os.path.join(self.path, reg))
            shutil.copy2(os.path.join(template, reg), self.path)
        self.program_dir = os.path.join(self.path, "drive_c", "kalmora")
        os.makedirs(os.path.join(self.program_dir, "system"))
        self.env = dict(base_env(), WINEPREFIX=self.path)
        self.processes = []

    def env_with(self, debug="-all", display=None):
        env = dict(self.env, WINEDEBUG=debug if debug.startswith("-") else "+timestamp," + debug)
        if display:
            env["DISPLAY"] = display
        return env

    def file(self, name):
        return os.path.join(self.program_dir, *name.split("\\"))

    def write(self, name, text, crlf=True):
        with open(self.file(name), "wb") as f:
            f.write((text.replace("\r\n", "\n").replace("\n", "\r\n") if crlf else text).encode("cp1252"))

    def read(self, name):
        with open(self.file(name), "rb") as f:
            return f.read().decode("cp1252")

    def install(self, src, name=None):
        return shutil.copy2(src, self.file(name or os.path.basename(src)))

    def start(self, args, log_name, debug="-all", display=None):
        """Starts `wine64 ARGS` with stderr (and stdout) into a log file."""
        log_path = os.path.join(self.case.workdir, log_name)
        with open(log_path, "ab") as out:
            p = subprocess.Popen([WINE] + args, env=self.env_with(debug, display), stdout=out, stderr=out,
                                 stdin=subprocess.DEVNULL, cwd=self.program_dir, start_new_session=True)
        self.processes.append(p)
        return p, TraceLog(log_path)

    def run(self, args, timeout=60, debug="-all", display=None, stderr=subprocess.DEVNULL):
        """Runs `wine64 ARGS` to its end; returns (exit code, stdout)."""
        r = subprocess.run([WINE] + args, env=self.env_with(debug, display), stdout=subprocess.PIPE, stderr=stderr,
                           stdin=subprocess.DEVNULL, cwd=self.program_dir, timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")

    def sleeper(self, debug="+eventlog", display=None):
        """A process that keeps the session, and with it the service manager
        and its services, alive; the services inherit its stderr."""
        self.install(self.case.tool("kalmora_probe.exe"))
        p, log = self.start([PROGRAM_DIR + "\\kalmora_probe.exe", "sleep", "900"], "session.log", debug, display)
        # The session is up once the service manager answers. Under load the
        # first "sc" may reach the wine server before the sleeper does, and
        # then the service manager inherits its stderr and WINEDEBUG: so the
        # polling "sc" writes where the sleeper writes, with the same channels.
        deadline = time.time() + 60
        while time.time() < deadline:
            with open(log.path, "ab") as err:
                if "RUNNING" in self.run(["sc", "query", "eventlog"], 30, debug, display, stderr=err)[1]:
                    return p, log
            time.sleep(0.5)
        raise TestFailure("the Wine session did not come up within 60 s")

    def sc(self, *args):
        return self.run(["sc"] + list(args))[1]

    def wait_session_end(self, timeout, first=None):
        """True when every process of the prefix has ended. `first` (from
        start()) is waited for first: before it runs there may be no server."""
        deadline = time.time() + timeout
        try:
            if first is not None:
                first.wait(timeout=timeout)
            subprocess.run([WINESERVER, "-w"], env=self.env, timeout=max(1, deadline - time.time()))
        except subprocess.TimeoutExpired:
            return False
        # The server is still tearing down its socket when -w returns; a
        # client started at that moment fails with "connection reset".
        time.sleep(2)
        return True

    def close(self):
        # Ends this prefix's own wine server and with it every process of
        # the session; nothing outside the prefix is touched.
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)
        for p in self.processes:
            if p.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(p.pid, signal.SIGKILL)
            p.wait(timeout=30)


class Case:
    """One test: its checks, its scratch directory and its prefixes."""

    def __init__(self, name, runner):
        self.name, self.runner = name, runner
        self.workdir = os.path.join(runner.scratch, name)
        os.makedirs(self.workdir)
        self.failures, self.notes, self.prefixes, self.checks = [], [], [], 0

    def tool(self, name):
        return self.runner.tool(name)

    def prefix(self, name="prefix"):
        self.prefixes.append(WinePrefix(self, self.runner.template, name))
        return self.prefixes[-1]

    def note(self, text):
        self.notes.append(text)

    def check(self, condition, message):
        self.checks += 1
        if not condition:
            self.failures.append(message)
        return condition

    def require(self, condition, message):
        self.checks += 1
        if not condition:
            raise TestFailure(message)

    def equal(self, actual, expected, what):
        return self.check(actual == expected, f"{what}:\n      expected {expected!r}\n      actual   {actual!r}")

    def events_equal(self, events, expected, what):
        """Event-log entries against (type, text) pairs; a text Wine cut in its
        trace must be the start of the expected one."""
        ok = len(events) == len(expected) and all(
            e.type == t and (e.text == text or (e.truncated and text.startswith(e.text)))
            for e, (t, text) in zip(events, expected))
        actual = [(e.type, e.text) for e in events]
        return self.check(ok, f"{what}:\n      expected {expected!r}\n      actual   {actual!r}")

    def artifact(self, name):
        os.makedirs(self.runner.artifacts, exist_ok=True)
        return os.path.join(self.runner.artifacts, name)


def run_case(runner, name, fn):
    case = Case(name, runner)
    started = time.time()
    try:
        fn(case)
        if case.checks == 0:
            case.failures.append("the test checked nothing")
    except TestFailure as e:
        case.failures.append(str(e))
    except Exception:
        case.failures.append("unexpected error:\n" + traceback.format_exc())
    for p in case.prefixes:
        try:
            p.close()
        except Exception as e:  # a cleanup problem must not hide the result
            case.note(f"cleanup of {p.path}: {e}")
    return case, time.time() - started


# --- small helpers -------------------------------------------------------------

def stamped_version(path):
    """major.minor.revision of an executable's VS_FIXEDFILEINFO."""
    data = open(path, "rb").read()
    at = data.find(b"\xbd\x04\xef\xfe\x00\x00\x01\x00")  # the signature and structure version 1.0
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


def ini(text_by_section, holidays="", msg_holidays=""):
    """A kalmora.ini from {section: {key: value}} and the two lists."""
    lines = []
    for section, keys in text_by_section.items():
        lines += [f"[{section}]"] + [f"{k}={v}" for k, v in keys.items()] + [""]
    for section, rows in (("ShutdownHolidays", holidays), ("MsgHolidays", msg_holidays)):
        lines += [f"[{section}]"] + [row for row in rows.splitlines() if row] + [""]
    return "\n".join(lines) + "\n"


def avoid_midnight(seconds):
    """A test whose date must not change while it runs starts after midnight
    when fewer than `seconds` are left of today."""
    now = datetime.datetime.now()
    left = (datetime.datetime.combine(now.date() + datetime.timedelta(days=1), datetime.time()) - now).total_seconds()
    if left < seconds:
        time.sleep(left + 2)


def xwd_to_png(xwd_path, png_path):
    """Converts a 32-bit TrueColor XWD window dump (as Xvfb makes) to PNG."""
    data = open(xwd_path, "rb").read()
    h = struct.unpack(">25I", data[:100])
    header_size, width, height, lsb_first, bits, bpl, ncolors = h[0], h[4], h[5], h[7] == 0, h[11], h[12], h[19]
    if bits != 32 or not lsb_first:
        raise ValueError(f"unsupported XWD: {bits} bits a pixel, byte order {h[7]}")
    pixels = data[header_size + ncolors * 12:]
    rows = bytearray()
    for y in range(height):
        line = pixels[y * bpl: y * bpl + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]  # stored as B, G, R, unused
        rows += b"\x00" + rgb

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(png_path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))
