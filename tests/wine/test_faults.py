# The online update with the real curl against a server on 127.0.0.1 that
# cuts, drags or lacks files, one prefix per case: kalmora.ini, kalmora.exe
# and versions.idx each end as the old file or the complete new one, and the
# day's check still runs (its [MsgHolidays] mails reach send.bat, from the
# program and configuration that should be in place).

import functools, http.server, os, re, subprocess, threading, time  # noqa: E401

from winelib import PROGRAM_DIR, dos, ini, stamped_version, today

SLOW = 5  # seconds per file: longer than the 3 s Kalmora waits in any case
CUT = "the connection was closed before the file was complete (curl status 18)"
FILES = {"idx": "versions.idx", "exe": "kalmora.exe", "ini": "kalmora.ini"}
NOTHING = "No files were updated."
HANDED = "Program file version {} was handed to the update helper, which puts it in place and starts it."
WHY_404 = "the server answered 404 Not Found for kalmora.ini.new"


def report(local_exe, server_exe, local_ini, server_ini, *lines):
    return 4, ("Kalmora: Online update finished. Results:\r\n\r\n"
               f"Local  ExeVersion = {local_exe}\r\nServer ExeVersion = {server_exe}\r\n\r\n"
               f"Local  IniVersion = {local_ini}\r\nServer IniVersion = {server_ini}\r\n\r\n" + "\r\n".join(lines))


def refused(cur, ext, why, exe, ini, saved=True):
    # The entries of a download refused (all else kept) by the program `cur`;
    # a file the server lacks was never saved, so there is nothing to delete.
    what, version = {"exe": ("program", exe), "ini": ("configuration", ini)}[ext]
    deleted = " and was deleted" if saved else ""
    return [(1, f"Kalmora: The {what} file kalmora.{ext}.new (version {version}) was not installed{deleted}: "
                f"{why}. The current kalmora.{ext} is kept."),
            report(cur, exe, 1, ini, f"{what.capitalize()} file version {version} was not installed: {why}.", NOTHING)]


def cases(cur, nxt):
    # Per case, given the running and the next program's version: the
    # server's offer (ExeVersion, IniVersion); what files suffer ("cut",
    # "slow", "missing"); the program file served; the requests as
    # "file:outcome"; the event-log entries; the files that end as the new
    # ones; and the mails' X-Mailer version and subjects, in order.
    def failed(ext, why, exe, ini, saved=True, **row):
        return dict(offer=(exe, ini), mails=(cur, "old 1"), events=refused(cur, ext, why, exe, ini, saved), **row)
    return {
        "cut-program": failed("exe", CUT, nxt, 1, faults={"exe": "cut"}, program="next/kalmora.exe",
                              asked="idx exe:cut"),
        "cut-configuration": failed("ini", CUT, cur, 2, faults={"ini": "cut"}, asked="idx ini:cut"),
        # The server's answer 404, in words; its error page is not saved.
        "missing-configuration": failed("ini", WHY_404, cur, 2, False, faults={"ini": "missing"},
                                        asked="idx ini:404"),
        "unstamped": failed("exe", "it carries no version stamp", nxt, 1, program="kalmora_probe.exe", asked="idx exe"),
        # Both files newer: kalmora.ini is replaced here, kalmora.exe by
        # zorvane.exe, which starts the new program; that one finds nothing new.
        "slow": dict(offer=(nxt, 2), faults=dict.fromkeys(FILES, "slow"), program="next/kalmora.exe", new="idx exe ini",
                     asked="idx:slow exe:slow ini:slow idx:slow", mails=(nxt, "new 1", "new 2"), events=[
                         report(cur, nxt, 1, 2, "Configuration file updated to version 2.", HANDED.format(nxt)),
                         report(nxt, nxt, 2, 2, NOTHING)]),
        # send.bat takes longer than the 3 s pause for each of three mails.
        "slow-send": dict(offer=(cur, 1), asked="idx", send_pause=4, rows=3, events=[report(cur, cur, 1, 1, NOTHING)],
                          mails=(cur, "old 1", "old 2", "old 3")),
    }


class FaultServer(http.server.ThreadingHTTPServer):
    # Serves `files` ({URL path: (bytes, kind, n)}) of the kinds "whole",
    # "slow" (in ten pieces over n seconds) and "cut" (the first n bytes),
    # the whole length announced in any case; `requests` lists each
    # "file name:kind", or ":404" for a file it lacks. It ends with the case.
    def __init__(self, case):
        super().__init__(("127.0.0.1", 0), FaultHandler)
        self.url, self.files, self.requests = f"http://127.0.0.1:{self.server_address[1]}/", {}, []
        threading.Thread(target=self.serve_forever, daemon=True).start()
        case.cleanups += [self.shutdown, self.server_close]

    def serve(self, files):
        # {file name: bytes}, whole, under /kalmora/.
        self.files = {f"/kalmora/{name}": (data, "whole", 0) for name, data in files.items()}


class FaultHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        data, kind, n = self.server.files.get(self.path, (b"<html><body>404 Not Found</body></html>", "404", None))
        self.send_response(404 if kind == "404" else 200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        body, pieces = data[:n] if kind == "cut" else data, 10 if kind == "slow" else 1
        for piece in range(pieces):
            self.wfile.write(body[len(body) * piece // pieces:len(body) * (piece + 1) // pieces])
            self.wfile.flush()
            time.sleep(n / pieces if kind == "slow" else 0)
        self.server.requests.append(f"{os.path.basename(self.path)}:{kind}")


def config(url, tag, rows, exit_after_check="1"):
    return ini({"GeneralOptions": {"Version": "1", "UpdateEnabled": "1", "UpdateServer": url,
                                   "ExitAfterCheck": exit_after_check},
                "Messaging": {"EmailAddress": "staff@example.com", "EmailSender": "kalmora@example.com"}},
               msg_holidays=[f"{today()},{tag} {i},Body {i}," for i in range(1, rows + 1)])


def updating(case, rows=1, send_pause=None, exit_after_check="1"):
    # A host whose Kalmora updates from a FaultServer (returned) through the
    # real curl and mails its [MsgHolidays] rows ("old N") to sent.log.
    server = FaultServer(case)
    case.install("zorvane.exe")
    case.curl()
    case.mailer(f"{PROGRAM_DIR}\\kalmora_probe.exe sleep {send_pause}\n" if send_pause else "")
    case.write("kalmora.ini", config(server.url, "old", rows, exit_after_check))
    case.write("versions.idx", "[Versions]\nIniVersion=1\n")
    return server


def update_key(case, private):
    # A new P-256 key in the file `private`; its public half as
    # system\update-key.pem, the key Kalmora trusts.
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", private], check=True)
    subprocess.run(["openssl", "ec", "-in", private, "-pubout", "-out", case.file("system\\update-key.pem")],
                   check=True, capture_output=True)


def run_fault_case(name, case):
    cur, nxt = stamped_version(case.tool("kalmora.exe")), stamped_version(case.tool("next/kalmora.exe"))
    row = dict(dict(faults={}, program=None, new="", rows=1), **cases(cur, nxt)[name])
    server = updating(case, row["rows"], row.get("send_pause"))
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

    case.events_equal(case.run_kalmora(), row["events"], "event-log entries")
    case.equal(server.requests, [f"{FILES[a[:3]]}.new{a[3:] or ':whole'}" for a in row["asked"].split()],
               "requests to the server")
    for ext, file in FILES.items():
        state = "new" if ext in row["new"] else "old"
        case.check(case.file(file).read_bytes() == (new if state == "new" else old)[ext],
                   f"{file} is not the {state} file byte for byte")
        case.check(not case.file(file + ".new").exists(), f"{file}.new was left behind")
    case.equal(re.findall(r"^Subject: (.*)\r\nX-Mailer: Kalmora Service (.*)\r$", case.sent(), re.M),
               [(s, row["mails"][0]) for s in row["mails"][1:]], "mails to send.bat (subject, version)")


def run_signed_case(case):
    # With system\update-key.pem, CNG checks what kalmora-sim.exe publish
    # signed with CNG: the program file changed in one byte (same size) and
    # an index signed by another key are refused, with kalmora.exe, and
    # versions.idx kept byte for byte; the published update installs and the
    # new program reports its version. Each refusal still decides the day (its mail).
    cur, nxt = stamped_version(case.tool("kalmora.exe")), stamped_version(case.tool("next/kalmora.exe"))
    server = updating(case)
    case.install("kalmora-sim.exe")
    case.install("next/kalmora.exe", "next.exe")
    published = {}
    for name in ("other", "key"):  # the last one is the key Kalmora trusts
        update_key(case, case.file(f"{name}.pem"))
        rc, out = case.run(PROGRAM_DIR + "\\kalmora-sim.exe", "publish", "--key", f"{PROGRAM_DIR}\\{name}.pem",
                           "--exe", PROGRAM_DIR + "\\next.exe", "--expires", "30", "--out", f"{PROGRAM_DIR}\\{name}")
        case.require(rc == 0, f"kalmora-sim.exe publish with {name}.pem ended with {rc}: {out}")
        published[name] = {f: case.file(f"{name}\\kalmora\\{f}").read_bytes()
                           for f in ("versions.idx.new", "versions.idx.sig", "kalmora.exe.new")}
    good = published["key"]
    damaged = bytearray(good["kalmora.exe.new"])
    damaged[len(damaged) // 2] ^= 1
    old = {f: case.file(f).read_bytes() for f in ("kalmora.exe", "versions.idx")}
    runs = [
        ("changed-program", dict(good, **{"kalmora.exe.new": bytes(damaged)}),
         refused(cur, "exe", "its SHA-256 does not match ExeSha256 of the version index", nxt, "NO_UPDATE")),
        ("other-key", published["other"], [
            (1, f"Kalmora: The version index {server.url}kalmora/versions.idx.new was refused: it is signed by "
                "another key, or was changed after it was signed. Nothing was installed, and versions.idx is "
                "kept.")]),
        ("published", good, [report(cur, nxt, 1, "NO_UPDATE", HANDED.format(nxt)),
                             report(nxt, nxt, 0, "NO_UPDATE", NOTHING)]),
    ]
    for label, files, expected in runs:
        server.serve(files)
        # Each refusal mails the day's message holiday again; the updated
        # program finds it sent today, as msgholidays.sent says, and does not.
        if label != "published":
            case.file("msgholidays.sent").unlink(missing_ok=True)
        case.events_equal(case.run_kalmora(label), expected, f"{label}: event-log entries")
        for file, state in ((f, "new" if label == "published" else "old") for f in ("kalmora.exe", "versions.idx")):
            case.check(case.file(file).read_bytes() == (good[file + ".new"] if state == "new" else old[file]),
                       f"{label}: {file} is not the {state} file byte for byte")
        case.check(not any(case.file(f).exists() for f in files), f"{label}: a download was left behind")
    case.equal(re.findall(r"^X-Mailer: Kalmora Service (.*)\r$", case.sent(), re.M), [cur, cur],
               "the day's mail from each refusing program, none from the updated one")


TESTS = [("faults:" + name, functools.partial(run_fault_case, name)) for name in cases("", "")]
TESTS.append(("faults:signed", run_signed_case))
