"""Helpers for the end-to-end tests of kalmora.exe and zorvane.exe under Wine.

Every test gets its own Wine prefix, a copy of one freshly booted template,
and a program directory C:\\kalmora in it. Event-log entries are read from
Wine's +eventlog trace: information entries appear as trace lines, warnings as
warn lines and errors as err lines. With +relay and the RelayInclude list set
in the template, the calls named there are traced with their arguments.
"""

import datetime
import os
import re
import shutil
import signal
import struct
import subprocess
import threading
import time
import traceback
import zlib

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
PROGRAM_DIR = "C:\\kalmora"
# Calls whose arguments the tests check.
RELAY_INCLUDE = ";".join([
    "user32.ExitWindowsEx", "user32.MessageBoxA",
    "advapi32.OpenProcessToken", "advapi32.LookupPrivilegeValueA", "advapi32.AdjustTokenPrivileges",
    "kernel32.CreateProcessA", "kernelbase.CreateProcessA",
])

EVENT_TYPES = {"trace": 4, "warn": 2, "err": 1}
# With +timestamp each line starts with Wine's tick count in seconds, which
# is the system's monotonic clock (time.monotonic()).
EVENT_RE = re.compile(r'^(?:(\d+\.\d+):)?[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW L"(.*)$')


class TestFailure(Exception):
    pass


def base_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    env["WINELOADER"] = WINE
    # No Mono or Gecko installers: the programs need neither.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEDEBUG"] = "-all"
    env.pop("DISPLAY", None)
    return env


def make_template(path, log):
    """Boots one prefix; every test copies it."""
    env = base_env()
    env["WINEPREFIX"] = path
    started = time.time()
    subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300, check=True)
    subprocess.run([WINE, "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d",
                    RELAY_INCLUDE, "/f"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120, check=True)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
    log(f"template prefix booted in {time.time() - started:.1f} s")


def decode_debugstr(s):
    """Wine's debugstr_w: L"..." with C escapes, cut with ... when long."""
    truncated = False
    if s.endswith('"...'):
        s, truncated = s[:-4], True
    elif s.endswith('"'):
        s = s[:-1]
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            if n in "nrt\\\"":
                out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}[n])
                i += 2
                continue
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", s[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
        out.append(c)
        i += 1
    return "".join(out), truncated


class Event:
    def __init__(self, etype, text, truncated, line_no, seen_at):
        self.type, self.text, self.truncated, self.line_no, self.seen_at = etype, text, truncated, line_no, seen_at

    def __repr__(self):
        return f"<event type {self.type}: {self.text[:120]!r}{'...' if self.truncated else ''}>"


class TraceLog:
    """A Wine process's stderr in a file, read while it grows; each line is
    stamped with the moment this reader first saw it."""

    def __init__(self, path):
        self.path = path
        self.lines = []  # (seen_at, line)
        self._pos = 0
        self._partial = b""
        self._lock = threading.Lock()

    def poll(self):
        with self._lock:
            try:
                with open(self.path, "rb") as f:
                    f.seek(self._pos)
                    data = f.read()
            except FileNotFoundError:
                return
            self._pos += len(data)
            now = time.time()
            data = self._partial + data
            parts = data.split(b"\n")
            self._partial = parts.pop()
            for p in parts:
                self.lines.append((now, p.decode("latin-1").rstrip("\r")))

    def events(self):
        self.poll()
        out = []
        for i, (seen, line) in enumerate(self.lines):
            m = EVENT_RE.match(line)
            if m:
                text, truncated = decode_debugstr(m.group(3))
                if m.group(1):  # the moment Wine wrote it, as wall-clock time
                    seen = float(m.group(1)) + time.time() - time.monotonic()
                out.append(Event(EVENT_TYPES[m.group(2)], text, truncated, i, seen))
        return out

    def grep(self, pattern):
        self.poll()
        rx = re.compile(pattern)
        return [line for _, line in self.lines if rx.search(line)]

    def wait_for_event(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while True:
            for e in self.events():
                if predicate(e):
                    return e
            if time.time() > deadline:
                raise TestFailure(f"timed out after {timeout} s waiting for {what}; event log so far: "
                                  f"{self.events()}")
            time.sleep(0.2)


class WinePrefix:
    """A fresh prefix (a copy of the template) with the program directory."""

    def __init__(self, case, template, name):
        self.case = case
        self.path = os.path.join(case.workdir, name)
        # Hard links for the (never written) system files, real copies of
        # the registry, which the wine server rewrites.
        subprocess.run(["cp", "-al", template, self.path], check=True)
        for reg in ("system.reg", "user.reg", "userdef.reg"):
            dst = os.path.join(self.path, reg)
            os.unlink(dst)
            shutil.copy2(os.path.join(template, reg), dst)
        self.program_dir = os.path.join(self.path, "drive_c", "kalmora")
        os.makedirs(os.path.join(self.program_dir, "system"))
        self.env = base_env()
        self.env["WINEPREFIX"] = self.path
        self.processes = []

    def env_with(self, debug="-all", display=None):
        env = dict(self.env)
        env["WINEDEBUG"] = debug if debug.startswith("-") else "+timestamp," + debug
        if display:
            env["DISPLAY"] = display
        return env

    def file(self, name):
        return os.path.join(self.program_dir, *name.split("\\"))

    def write(self, name, text, crlf=True):
        data = text.replace("\r\n", "\n").replace("\n", "\r\n") if crlf else text
        with open(self.file(name), "wb") as f:
            f.write(data.encode("cp1252"))

    def read(self, name):
        with open(self.file(name), "rb") as f:
            return f.read().decode("cp1252")

    def install(self, src, name=None):
        dst = self.file(name or os.path.basename(src))
        shutil.copy2(src, dst)
        return dst

    def start(self, args, log_name, debug="-all", display=None, cwd=None):
        """Starts `wine64 ARGS` with stderr (and stdout) into a log file."""
        log_path = os.path.join(self.case.workdir, log_name)
        out = open(log_path, "ab")
        p = subprocess.Popen([WINE] + args, env=self.env_with(debug, display), stdout=out, stderr=out,
                             stdin=subprocess.DEVNULL, cwd=cwd or self.program_dir, start_new_session=True)
        out.close()
        self.processes.append(p)
        return p, TraceLog(log_path)

    def run(self, args, timeout=60, debug="-all", display=None):
        """Runs `wine64 ARGS` to its end; returns (exit code, stdout)."""
        r = subprocess.run([WINE] + args, env=self.env_with(debug, display), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, cwd=self.program_dir,
                           timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")

    def sleeper(self, debug="+eventlog", display=None):
        """An ordinary process that keeps the session (and the service manager
        with its services) alive; the services inherit its stderr."""
        self.install(self.case.tool("kalmora_probe.exe"))
        p, log = self.start([PROGRAM_DIR + "\\kalmora_probe.exe", "sleep", "900"], "session.log", debug=debug,
                            display=display)
        # The session is up once the service manager answers. Under load the
        # first "sc" may reach the wineserver before the sleeper does, and
        # then the service manager inherits its stderr and WINEDEBUG: so the
        # polling "sc" writes where the sleeper writes, with the same channels.
        deadline = time.time() + 60
        while time.time() < deadline:
            with open(log.path, "ab") as err:
                r = subprocess.run([WINE, "sc", "query", "eventlog"], env=self.env_with(debug, display),
                                   stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL,
                                   cwd=self.program_dir, timeout=30)
            if "RUNNING" in r.stdout.decode("latin-1"):
                return p, log
            time.sleep(0.5)
        raise TestFailure("the Wine session did not come up within 60 s")

    def sc(self, *args, timeout=60):
        rc, out = self.run(["sc"] + list(args), timeout=timeout)
        return out

    def service_state(self):
        m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", self.sc("query", "Kalmora"))
        return m.group(1) if m else None

    def wait_session_end(self, timeout, first=None):
        """True when every process of the prefix has ended. `first`, a process
        started by start(), is waited for before the session: until it runs,
        there may be no wine server to wait for."""
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
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        for p in self.processes:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            p.wait(timeout=30)


class Case:
    """One test: its checks, its scratch directory and its prefixes."""

    def __init__(self, name, runner):
        self.name = name
        self.runner = runner
        self.workdir = os.path.join(runner.scratch, name)
        os.makedirs(self.workdir)
        self.failures = []
        self.notes = []
        self.prefixes = []
        self.checks = 0

    def tool(self, name):
        return self.runner.tool(name)

    def prefix(self, name="prefix"):
        p = WinePrefix(self, self.runner.template, name)
        self.prefixes.append(p)
        return p

    def note(self, text):
        self.notes.append(text)

    def check(self, condition, message):
        self.checks += 1
        if not condition:
            self.failures.append(message)
        return condition

    def events_equal(self, events, expected, what):
        """Event-log entries against (type, text) pairs; Wine cuts long texts
        in its trace, so a cut text must be the start of the expected one."""
        ok = len(events) == len(expected) and all(
            e.type == t and (e.text == text or (e.truncated and text.startswith(e.text)))
            for e, (t, text) in zip(events, expected))
        return self.check(ok, f"{what}:\n      expected {expected!r}\n      actual   {[(e.type, e.text) for e in events]!r}")

    def equal(self, actual, expected, what):
        return self.check(actual == expected, f"{what}:\n      expected {expected!r}\n      actual   {actual!r}")

    def require(self, condition, message):
        self.checks += 1
        if not condition:
            raise TestFailure(message)

    def artifact(self, name):
        os.makedirs(self.runner.artifacts, exist_ok=True)
        return os.path.join(self.runner.artifacts, name)

    def close(self):
        for p in self.prefixes:
            try:
                p.close()
            except Exception as e:  # a cleanup problem must not hide the result
                self.notes.append(f"cleanup of {p.path}: {e}")


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
    finally:
        case.close()
    return case, time.time() - started


# --- small helpers -------------------------------------------------------------

def stamped_version(path):
    """major.minor.revision of an executable's VS_FIXEDFILEINFO."""
    data = open(path, "rb").read()
    at = 0
    while True:
        at = data.find(b"\xbd\x04\xef\xfe", at)
        if at < 0:
            return None
        sv, ms, ls = struct.unpack_from("<III", data, at + 4)
        if sv == 0x10000:
            return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"
        at += 4


def ini(text_by_section, holidays="", msg_holidays=""):
    """A kalmora.ini from {section: {key: value}} and the two lists."""
    lines = []
    for section, keys in text_by_section.items():
        lines.append(f"[{section}]")
        lines += [f"{k}={v}" for k, v in keys.items()]
        lines.append("")
    lines.append("[ShutdownHolidays]")
    lines += [h for h in holidays.splitlines() if h]
    lines.append("")
    lines.append("[MsgHolidays]")
    lines += [h for h in msg_holidays.splitlines() if h]
    lines.append("")
    return "\n".join(lines) + "\n"


def local_now():
    return datetime.datetime.now()


def avoid_midnight(seconds):
    """A test whose date must not change while it runs starts after midnight
    when fewer than `seconds` are left of today."""
    now = local_now()
    midnight = (now + datetime.timedelta(days=1)).replace(hour=0, minute=0, second=0, microsecond=0)
    left = (midnight - now).total_seconds()
    if left < seconds:
        time.sleep(left + 2)


def content_box(pixels, width, height, bpl, step):
    """The smallest box around everything that is not the black root window."""
    xs, ys = [], []
    for y in range(0, height, 2):
        row = pixels[y * bpl: y * bpl + width * step]
        for x in range(0, width, 2):
            if row[x * step: x * step + 3] != b"\x00\x00\x00":
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs) - 2, min(ys) - 2, max(xs) + 3, max(ys) + 3


def xwd_to_png(xwd_path, png_path, crop=None):
    """Converts a 24/32-bit TrueColor XWD screen dump to PNG; crop is a box
    (x0, y0, x1, y1) or "content" for the part that shows anything."""
    data = open(xwd_path, "rb").read()
    h = struct.unpack(">25I", data[:100])
    header_size, width, height, byte_order, bpp, bpl, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
    if bpp not in (24, 32):
        raise ValueError(f"unsupported XWD depth {bpp}")
    step = bpl // width
    pixels = data[header_size + ncolors * 12:]
    if crop == "content":
        crop = content_box(pixels, width, height, bpl, step)
    x0, y0, x1, y1 = crop or (0, 0, width, height)
    x0, y0, x1, y1 = max(0, x0), max(0, y0), min(width, x1), min(height, y1)
    rows = []
    for y in range(y0, y1):
        row = bytearray(b"\x00")
        base = y * bpl
        for x in range(x0, x1):
            p = pixels[base + x * step: base + x * step + 3]
            row += bytes((p[2], p[1], p[0])) if byte_order == 0 else bytes((p[0], p[1], p[2]))
        rows.append(bytes(row))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", x1 - x0, y1 - y0, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(png_path, "wb") as f:
        f.write(png)
