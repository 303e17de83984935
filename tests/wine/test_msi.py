# The Windows Installer package from scripts/build-msi under Wine's msiexec:
# a silent first installation with the update settings, a major upgrade that
# keeps an edited kalmora.ini, and the removal by product code.

import os, re, shutil, subprocess  # noqa: E401

from winelib import PROGRAM_DIR, dos, event_source, events, poll, stamped_version

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
INSTALL_DIR, INSTALLED = "C:\\Program Files\\Kalmora", "..\\Program Files\\Kalmora\\"  # the latter for case.file()
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
SERVER = "http://127.0.0.1:9/"  # nothing listens there: the update fails and Kalmora goes on


def products(case):
    # The installed Kalmora products: {product code: DisplayVersion}.
    return {k.rsplit("\\", 1)[1]: v["DisplayVersion"][1] for k, v in case.values(UNINSTALL, "/s").items()
            if v.get("DisplayName", (None, None))[1] == "Kalmora"}


def msiexec(case, log, *args):
    # Silent, with msiexec's own log beside the packages; its exit status.
    return case.run("msiexec", *args, "/qn", "/l*v", f"{PROGRAM_DIR}\\{log}.log", timeout=180)[0]


def installed(case, name):
    # The installed file's bytes, or None.
    path = case.file(INSTALLED + name)
    return path.read_bytes() if path.exists() else None


def lines(data):
    return [line for line in (data or b"").split(b"\r\n") if line]


def build_msi(case, programs, name):
    # A package of these kalmora.exe, zorvane.exe and kalmora-desk.exe, versioned as the
    # kalmora.exe is stamped, beside the programs in C:\kalmora.
    os.makedirs(os.path.join(case.workdir, name))
    for exe, path in programs.items():
        os.symlink(path, os.path.join(case.workdir, name, exe))
    version = stamped_version(programs["kalmora.exe"])
    subprocess.run([os.path.join(ROOT, "scripts", "build-msi"), os.path.join(case.workdir, name), version,
                    str(case.file(name + ".msi"))], check=True, capture_output=True)
    return PROGRAM_DIR + "\\" + name + ".msi", version


def test_msi(case):
    programs = {n: case.tool(n) for n in ("kalmora.exe", "zorvane.exe", "kalmora-desk.exe")}
    msi, version = build_msi(case, programs, "kalmora")
    # The upgrade brings the same program stamped one revision higher.
    newer_msi, newer = build_msi(case, dict(programs, **{"kalmora.exe": case.tool("next/kalmora.exe")}), "newer")
    _, session = case.sleeper()
    exe = INSTALL_DIR + "\\kalmora.exe"
    # The host's own curl.exe, which the package copies into system\.
    system_curl = os.path.join(case.path, "drive_c", "windows", "system32", "curl.exe")
    if not os.path.exists(system_curl):
        shutil.copy(case.tool("curl_shim.exe"), system_curl)

    case.require(msiexec(case, "install", "/i", msi, "UPDATESERVER=" + SERVER, "UPDATEENABLED=1") == 0,
                 "first installation failed")
    send_bat = os.path.join(ROOT, "examples", "program", "system", "send.bat")
    copied = dict(programs, **{"system\\send.bat": send_bat, "system\\curl.exe": system_curl})
    case.equal({n: installed(case, n) for n in copied}, {n: open(p, "rb").read() for n, p in copied.items()},
               "installed programs, send.bat and the host's curl.exe")
    shipped = dos(open(os.path.join(ROOT, "packaging", "kalmora.ini")).read())
    case.require(b"\r\nUpdateServer=\r\n" in shipped and b"\r\nUpdateEnabled=0\r\n" in shipped,
                 "the shipped kalmora.ini lacks the empty UpdateServer= or UpdateEnabled=0")
    written = shipped.replace(b"\r\nUpdateServer=\r\n", f"\r\nUpdateServer={SERVER}\r\n".encode()).replace(
        b"\r\nUpdateEnabled=0\r\n", b"\r\nUpdateEnabled=1\r\n")
    # Wine's profile writer drops the blank lines of the file it writes to;
    # Windows keeps them.
    case.equal(lines(installed(case, "kalmora.ini")), lines(written), "kalmora.ini after the first installation")
    service, source = case.service_keys()
    # Wine writes the path unquoted; Windows Installer quotes it.
    case.equal({n: (service or {}).get(n, (None, ""))[1].strip('"') for n in ("Type", "Start", "ErrorControl",
                                                                              "ImagePath")},
               {"Type": "0x110", "Start": "0x2", "ErrorControl": "0x1", "ImagePath": exe},
               "the service (own process, interactive, automatic, normal errors)")
    case.equal(source, event_source(exe), "the event source")
    case.wait_state("RUNNING", 30)  # started by the installer, settling for two minutes
    # The failure actions' row is checked in the package by build-msi. Wine 8's
    # msiexec knows no MsiConfigureServices: it starts the action where the
    # package puts it, between making and starting the service, and skips it.
    log = case.file("install.log").read_text("latin-1")
    order = ["InstallServices", "MsiConfigureServices", "StartServices"]
    case.equal([a for a in re.findall(r"^Action start [\d:]+: (\w+)\.\r?$", log, re.M) if a in order][:3], order,
               "the service actions of the installation, in order")
    first = products(case)
    case.equal(list(first.values()), [version], "installed product versions")

    # An edit on the host, then an upgrade that is given other settings: the
    # edited file stays as it is, byte for byte.
    edited = written.replace(b"\r\nShutdownDelay=180\r\n", b"\r\nShutdownDelay=240\r\n")
    case.require(edited != written, "the shipped kalmora.ini lacks ShutdownDelay=180")
    case.file(INSTALLED + "kalmora.ini").write_bytes(edited)
    # Wine's msiexec asks the service to stop but does not wait for it, and
    # then cannot replace the busy program or register the service anew.
    case.sc("stop")
    case.require(msiexec(case, "upgrade", "/i", newer_msi, "UPDATESERVER=http://127.0.0.1:7/", "UPDATEENABLED=0") == 0,
                 "the upgrade failed")
    upgraded = products(case)
    case.equal(list(upgraded.values()), [newer], "installed product versions after the upgrade")
    case.check(upgraded.keys() != first.keys(), "the upgrade kept the old product code")
    case.equal(stamped_version(case.file(INSTALLED + "kalmora.exe")), newer, "kalmora.exe after the upgrade")
    case.equal(installed(case, "kalmora.ini"), edited, "kalmora.ini after the upgrade")

    # The new service, started by the installer, reads the kept file: its
    # online update fails at the first installation's server, and it runs on.
    case.wait_state("RUNNING", 30)
    failure = poll(lambda: [e for e in events(session) if e.type == 1], 170, "the update's error entry")[0]
    case.equal(failure.text.split("\r\n")[0],
               f"Kalmora: Error while downloading Version Index file from {SERVER}kalmora/versions.idx.new",
               "the error entry of the update")
    case.wait_state("RUNNING", 5)

    case.sc("stop")
    case.equal(msiexec(case, "remove", "/x", next(iter(upgraded), "{}")), 0, "exit status of the removal")
    case.equal(case.service_keys(), [None, None], "service and event source after removal")
    case.equal(products(case), {}, "installed products after removal")
    case.equal([installed(case, n) for n in copied], [None] * len(copied), "programs after removal")
    case.equal(installed(case, "kalmora.ini"), edited, "kalmora.ini after removal")


TESTS = [("msi", test_msi)]
