#!/usr/bin/python3
# A mail server on 127.0.0.1 for the tests under Wine (Debian's aiosmtpd):
#   smtp_sink.py PORT DIR [USER:PASSWORD]
# saves each message it takes as DIR/N.json ({"from", "rcpt", "data"}),
# answers 550 to any recipient whose name begins with "refused", and with
# USER:PASSWORD takes mail only after that login.
import asyncio, itertools, json, logging, os, sys, warnings  # noqa: E401

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Sink:
    def __init__(self, folder):
        self.folder, self.numbers = folder, itertools.count(1)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 5.1.1 no such mailbox"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        path = os.path.join(self.folder, f"{next(self.numbers)}.json")
        with open(path + ".part", "w") as f:
            json.dump({"from": envelope.mail_from, "rcpt": envelope.rcpt_tos,
                       "data": envelope.original_content.decode("latin-1")}, f)
        os.rename(path + ".part", path)
        return "250 OK"


if __name__ == "__main__":
    # Quiet about logins without TLS, which loopback does not need.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    warnings.simplefilter("ignore")
    login = sys.argv[3].encode().split(b":", 1) if len(sys.argv) > 3 else None
    check = lambda server, session, envelope, mechanism, data: AuthResult(  # noqa: E731
        success=[data.login, data.password] == login)
    controller = Controller(Sink(sys.argv[2]), hostname="127.0.0.1", port=int(sys.argv[1]), authenticator=check,
                            auth_required=bool(login), auth_require_tls=False)
    controller.start()
    print("ready", flush=True)
    try:
        asyncio.new_event_loop().run_forever()
    finally:
        controller.stop()
