# The online update with the real curl against a server on 127.0.0.1 that
# cuts, drags or lacks files, one prefix per case: kalmora.ini, kalmora.exe
# and versions.idx each end as the old file or the complete new one, and the
# day's check still runs (its [MsgHolidays] mails reach send.bat, from the
# program and configuration that should be in place).

import datetime, functools, http.server, os, re, shutil, subprocess, threading, time  # noqa: E401

from winelib import PROGRAM_DIR, avoid_midnight, dos, events, ini, stamped_version

SLOW = 5  # seconds per file: longer than the 3 s Kalmora waits in any case
CUT = "the connection was closed before the file was complete (curl status 18)"
FILES = {"idx": "versions.idx", "exe": "kalmora.exe", "ini": "kalmora.ini"}
NOTHING = "No files were updated."
WHY_404 = "it is not a readable configuration file (no line [ShutdownHolidays])"


def report(local_exe, server_exe, local_ini, server_ini, *lines):
    return 4, ("Kalmora: Online update finished. Results:\r\n\r\n"
               f"Local  ExeVersion = {local_exe}\r\nServer ExeVersion = {server_exe}\r\n\r\n"
               f"Local  IniVersion = {local_ini}\r\nServer IniVersion = {server_ini}\r\n\r\n" + "\r\n".join(lines))


def cases(cur, nxt):
    # Per case, given the running and the next program's version: the
    # server's offer (ExeVersion, IniVersion); what files suffer ("cut",
    # "slow", "missing"); the program file served; the requests as
    # "file:outcome"; the event-log entries; the files that end as the new
    # ones; and the mails' X-Mailer version and subjects, in order.
    def refused(ext, why, exe, ini):  # a download refused, all else kept
        what = {"exe": "program", "ini": "configuration"}[ext]
        return dict(offer=(exe, ini), mails=(cur, "old 1"), events=[
            (1, f"Kalmora: The {what} file kalmora.{ext}.new (version {exe if ext == 'exe' else ini}) was not "
                f"installed and was deleted: {why}. The current kalmora.{ext} is kept."),
            report(cur, exe, 1, ini, f"{what.capitalize()} file version {exe if ext == 'exe' else ini} was not "
                   f"installed: {why}.", NOTHING)])
    return {
        "cut-program": dict(refused("exe", CUT, nxt, 1), faults={"exe": "cut"}, program="next/kalmora.exe",
                            asked="idx exe:cut"),
        "cut-configuration": dict(refused("ini", CUT, cur, 2), faults={"ini": "cut"}, asked="idx ini:cut"),
        # The server's error page must not replace the live configuration.
        "missing-configuration": dict(refused("ini", WHY_404, cur, 2), faults={"ini": "missing"}, asked="idx ini:404"),
        "unstamped": dict(refused("exe", "it carries no version stamp", nxt, 1), program="kalmora_probe.exe",
                          asked="idx exe"),
        # Both files newer: kalmora.ini is replaced here, kalmora.exe by
        # zorvane.exe, which starts the new program; that one finds nothing new.
        "slow": dict(offer=(nxt, 2), faults=dict.fromkeys(FILES, "slow"), program="next/kalmora.exe", new="idx exe ini",
                     asked="idx:slow exe:slow ini:slow idx:slow", mails=(nxt, "new 1", "new 2"), events=[
                         report(cur, nxt, 1, 2, "Configuration file updated to version 2.", f"Program file version "
                                f"{nxt} was handed to the update helper, which puts it in place and starts it."),
                         report(nxt, nxt, 2, 2, NOTHING)]),
        # send.bat takes longer than the 3 s pause for each of three mails.
        "slow-send": dict(offer=(cur, 1), asked="idx", send_pause=4, rows=3, events=[report(cur, cur, 1, 1, NOTHING)],
                          mails=(cur, "old 1", "old 2", "old 3")),
    }


class FaultServer(http.server.ThreadingHTTPServer):
    # Serves `files` ({URL path: (bytes, kind, n)}) of the kinds "whole",
    # "slow" (in ten pieces over n seconds) and "cut" (the first n bytes),
    # the whole length announced in any case; `requests` lists each
    # "file name:kind", or ":404" for a file it lacks.
    def __init__(self):
        super().__init__(("127.0.0.1", 0), FaultHandler)
        self.url, self.files, self.requests = f"http://127.0.0.1:{self.server_address[1]}/", {}, []
        threading.Thread(target=self.serve_forever, daemon=True).start()


class FaultHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        data, kind, n = self.server.files.get(self.path, (b"<html><body>404 Not Found</body></html>", "404", None))
        self.send_response(404 if kind == "404" else 200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if kind == "slow":
            for piece in range(10):
                self.wfile.write(data[len(data) * piece // 10:len(data) * (piece + 1) // 10])
                self.wfile.flush()
                time.sleep(n / 10)
        else:
            self.wfile.write(data[:n] if kind == "cut" else data)
        self.server.requests.append(f"{os.path.basename(self.path)}:{kind}")


def config(url, tag, rows):
    today = datetime.datetime.now().strftime("%d.%m.%Y")
    return ini({"GeneralOptions": {"Version": "1", "UpdateEnabled": "1", "UpdateServer": url, "ExitAfterCheck": "1"},
                "Messaging": {"EmailAddress": "staff@example.com", "EmailSender": "kalmora@example.com"}},
               msg_holidays=[f"{today},{tag} {i},Body {i}," for i in range(1, rows + 1)])


def run_fault_case(name, case):
    cur, nxt = stamped_version(case.tool("kalmora.exe")), stamped_version(case.tool("next/kalmora.exe"))
    row = dict(dict(faults={}, program=None, new="", rows=1), **cases(cur, nxt)[name])
    avoid_midnight(150)
    server = FaultServer()
    try:
        case.install("zorvane.exe")
        # system\curl.exe starts the Linux curl beside it and waits for it in
        # Wine's stead (tests/wine/tools/curl_shim.cpp).
        case.install("curl_shim.exe", "system\\curl.exe")
        os.symlink("/usr/bin/curl", case.file("system\\curl-linux.exe"))
        pause = f"{PROGRAM_DIR}\\kalmora_probe.exe sleep {row['send_pause']}\n" if "send_pause" in row else ""
        case.write("system\\send.bat", f"@echo off\n{pause}type mail.tmp >> sent.log\n")
        case.write("kalmora.ini", config(server.url, "old", row["rows"]))
        case.write("versions.idx", "[Versions]\nIniVersion=1\n")
        case.write("sent.log", "")
        old = {ext: case.file(file).read_bytes() for ext, file in FILES.items()}
        new = {"idx": dos("[Versions]\nExeVersion={}\nIniVersion={}\n".format(*row["offer"])),
               "ini": dos(config(server.url, "new", 2)),
               "exe": row["program"] and open(case.tool(row["program"]), "rb").read()}
        for ext, data in new.items():
            kind = row["faults"].get(ext, "whole")
            if data and kind != "missing":
                # A configuration breaks off right after a whole [MsgHolidays]
                # row: what arrived reads as a valid, shorter configuration.
                cut = data.index(b"\r\n", data.index(b"new 1")) + 2 if ext == "ini" else len(data) // 2
                server.files[f"/kalmora/{FILES[ext]}.new"] = (data, kind, SLOW if kind == "slow" else cut)

        proc, log = case.start([PROGRAM_DIR + "\\kalmora.exe"], "kalmora.log", debug="+eventlog")
        case.require(case.wait_session_end(proc, 150), "the run did not end within 150 s")
        case.equal(proc.returncode, 0, "exit status of kalmora.exe")
        case.events_equal(events(log), row["events"], "event-log entries")
        case.equal(server.requests, [f"{FILES[a[:3]]}.new{a[3:] or ':whole'}" for a in row["asked"].split()],
                   "requests to the server")
        for ext, file in FILES.items():
            state = "new" if ext in row["new"] else "old"
            case.check(case.file(file).read_bytes() == (new if state == "new" else old)[ext],
                       f"{file} is not the {state} file byte for byte")
            case.check(not case.file(file + ".new").exists(), f"{file}.new was left behind")
        sent = case.file("sent.log").read_bytes().decode()
        case.equal(re.findall(r"^Subject: (.*)\r\nX-Mailer: Kalmora Service (.*)\r$", sent, re.M),
                   [(s, row["mails"][0]) for s in row["mails"][1:]], "mails to send.bat (subject, version)")
    finally:
        server.shutdown()
        server.server_close()


def run_signed_case(case):
    # With system\\update-key.pem, CNG checks what kalmora-sim.exe publish
    # signed with CNG: the program file changed in one byte (same size) and
    # an index signed by another key are refused, with kalmora.exe, and
    # versions.idx kept byte for byte; the published update installs and the
    # new program reports its version. Each refusal still decides the day (its mail).
    cur, nxt = stamped_version(case.tool("kalmora.exe")), stamped_version(case.tool("next/kalmora.exe"))
    avoid_midnight(200)
    server = FaultServer()
    try:
        for tool in ("zorvane.exe", "kalmora-sim.exe"):
            case.install(tool)
        case.install("next/kalmora.exe", "next.exe")
        case.install("curl_shim.exe", "system\\curl.exe")
        os.symlink("/usr/bin/curl", case.file("system\\curl-linux.exe"))
        case.write("system\\send.bat", "@echo off\ntype mail.tmp >> sent.log\n")
        case.write("kalmora.ini", config(server.url, "old", 1))
        case.write("versions.idx", "[Versions]\nIniVersion=1\n")
        case.write("sent.log", "")
        published = {}
        for name in ("key", "other"):
            subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out",
                            case.file(f"{name}.pem")], check=True)
            rc, out = case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "publish", "--key", f"{PROGRAM_DIR}\\{name}.pem",
                               "--exe", PROGRAM_DIR + "\\next.exe", "--expires", "30",
                               "--out", f"{PROGRAM_DIR}\\{name}")
            case.require(rc == 0, f"kalmora-sim.exe publish with {name}.pem ended with {rc}: {out}")
            published[name] = {f: case.file(f"{name}\\kalmora\\{f}").read_bytes()
                               for f in ("versions.idx.new", "versions.idx.sig", "kalmora.exe.new")}
        subprocess.run(["openssl", "ec", "-in", case.file("key.pem"), "-pubout", "-out",
                        case.file("system\\update-key.pem")], check=True, capture_output=True)
        for name in ("key", "other"):
            case.file(f"{name}.pem").unlink()
            shutil.rmtree(case.file(name))
        good = published["key"]
        damaged = bytearray(good["kalmora.exe.new"])
        damaged[len(damaged) // 2] ^= 1
        old = {f: case.file(f).read_bytes() for f in ("kalmora.exe", "versions.idx")}
        why = "its SHA-256 does not match ExeSha256 of the version index"
        runs = [
            ("changed-program", dict(good, **{"kalmora.exe.new": bytes(damaged)}), [
                (1, f"Kalmora: The program file kalmora.exe.new (version {nxt}) was not installed and was deleted: "
                    f"{why}. The current kalmora.exe is kept."),
                report(cur, nxt, 1, "NO_UPDATE", f"Program file version {nxt} was not installed: {why}.", NOTHING)]),
            ("other-key", published["other"], [
                (1, f"Kalmora: The version index {server.url}kalmora/versions.idx.new was refused: it is signed by "
                    "another key, or was changed after it was signed. Nothing was installed, and versions.idx is "
                    "kept.")]),
            ("published", good, [
                report(cur, nxt, 1, "NO_UPDATE", f"Program file version {nxt} was handed to the update helper, which "
                       "puts it in place and starts it."),
                report(nxt, nxt, 0, "NO_UPDATE", NOTHING)]),
        ]
        for label, files, expected in runs:
            server.files = {f"/kalmora/{f}": (data, "whole", None) for f, data in files.items()}
            # Each refusal mails the day's message holiday again; the updated
            # program finds it sent today, as msgholidays.sent says, and does not.
            if label != "published":
                case.file("msgholidays.sent").unlink(missing_ok=True)
            proc, log = case.start([PROGRAM_DIR + "\\kalmora.exe"], f"{label}.log", debug="+eventlog")
            case.require(case.wait_session_end(proc, 150), f"{label}: the run did not end within 150 s")
            case.events_equal(events(log), expected, f"{label}: event-log entries")
            installed = label == "published"
            case.check(case.file("kalmora.exe").read_bytes() == (good["kalmora.exe.new"] if installed
                                                                  else old["kalmora.exe"]),
                       f"{label}: kalmora.exe is not the {'new' if installed else 'old'} file byte for byte")
            case.check(case.file("versions.idx").read_bytes() == (good["versions.idx.new"] if installed
                                                                   else old["versions.idx"]),
                       f"{label}: versions.idx is not the {'server' if installed else 'old'} index")
            case.check(not any(case.file(f).exists() for f in files), f"{label}: a download was left behind")
        sent = case.file("sent.log").read_bytes().decode()
        case.equal(re.findall(r"^X-Mailer: Kalmora Service (.*)\r$", sent, re.M), [cur, cur],
                   "the day's mail from each refusing program, none from the updated one")
    finally:
        server.shutdown()
        server.server_close()


TESTS = [("faults:" + name, functools.partial(run_fault_case, name)) for name in cases("", "")]
TESTS.append(("faults:signed", run_signed_case))
