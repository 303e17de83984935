# Mail by SMTP with the real curl against a real mail server on 127.0.0.1
# (tools/smtp_sink.py): two message-holiday mails due at the same moment,
# blind copies, a refused recipient and a closed port; the event log says
# what became of each mail, and only a mail that did not go out keeps its
# file. Umlauts in subject and body and a 1,200-byte line are read back by
# Python's email package as written; each mail names the computer and day.

import datetime, email, email.policy, functools, json, os, socket, subprocess  # noqa: E401

from winelib import ini, today

SINK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tools", "smtp_sink.py")
ROW = "Kalmora: The message-holiday email of [MsgHolidays] row {} ({}, subject \"{}\") to inform {} could not be sent: {}."
CASES = {
    # server up?, second row's address, subjects delivered, (row, reason) of each error entry
    "delivered": (True, "boss@example.com", ["Heilige Drei K\u00f6nige", "Two"], []),
    "refused": (True, "refused@example.com", ["One"],
                [(2, "the mail server refused the sender, a recipient or the message (curl status 55)")]),
    "closed-port": (False, "boss@example.com", [],
                    [(1, "the mail server could not be reached (curl status 7)"),
                     (2, "the mail server could not be reached (curl status 7)")]),
}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The first row's subject and body when the server takes it.
UMLAUTS = ("Heilige Drei K\u00f6nige", "Sch\u00f6ne Gr\u00fc\u00dfe vom B\u00fcro\\n" + ("Zeile \u00e4 " * 150)[:-1] + "!")


def run_smtp_case(name, case):
    up, second, delivered, errors = CASES[name]
    one = UMLAUTS if name == "delivered" else ("One", "Body\\nof one")
    port, inbox = free_port(), os.path.join(case.workdir, "inbox")
    os.makedirs(inbox)
    # The first case's server wants a login, which curl reads from system\smtp.cfg.
    login = ["kalmora:s3cret"] if name == "delivered" else []
    if up:
        case.processes.append(subprocess.Popen(["/usr/bin/python3", SINK, str(port), inbox, *login],
                                               stdout=subprocess.PIPE))
        case.require(case.processes[-1].stdout.readline() == b"ready\n", "the mail server did not start")
    case.curl()
    if login:
        case.write("system\\smtp.cfg", f'user = "{login[0]}"\n')
    case.write("kalmora.ini", ini(
        {"GeneralOptions": {"Version": "1", "ExitAfterCheck": "1"},
         "Messaging": {"EmailAddress": "staff@example.com", "EmailSender": "Kalmora <kalmora@example.com>",
                       "EmailUseBcc": "1", "SmtpServer": f"smtp://127.0.0.1:{port}"}},
        msg_holidays=[f"{today()},{one[0]},{one[1]},team@example.com", f"{today()},Two,Body of two,{second}"]))
    entries = case.run_kalmora()
    to = {"One": "team@example.com", UMLAUTS[0]: "team@example.com", "Two": second}
    case.equal([e.text for e in entries if e.type == 1],
               [ROW.format(row, today(), ["One", "Two"][row - 1], to[["One", "Two"][row - 1]], why)
                for row, why in errors], "error entries")
    bodies = {"One": "Body\nof one\n", UMLAUTS[0]: UMLAUTS[1].replace("\\n", "\n") + "\n", "Two": "Body of two\n"}
    computer, subjects = socket.gethostname().split(".")[0][:15].upper(), []
    for mail in (json.load(open(os.path.join(inbox, f))) for f in sorted(os.listdir(inbox))):
        message = email.message_from_bytes(mail["data"].encode("latin-1"), policy=email.policy.default)
        subjects.append(subject := str(message["Subject"]))
        case.equal((mail["from"], mail["rcpt"], message["Date"].datetime.date(),
                    str(message["X-Kalmora-Computer"]).upper(), message.get_content().replace("\r\n", "\n")),
                   ("kalmora@example.com", ["kalmora@example.com", to[subject]], datetime.date.today(), computer,
                    bodies[subject]), f"{subject}: envelope, the day in Date, X-Kalmora-Computer, body as decoded")
    case.equal(sorted(subjects), delivered, "subjects the mail server took, once each")
    case.equal(len([f for f in os.listdir(case.program_dir) if f.endswith(".eml")]), len(errors),
               "message files left (those of mails that did not go out)")


TESTS = [("smtp:" + name, functools.partial(run_smtp_case, name)) for name in CASES]
