#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A local SMTP mail drop for the tests and the demo: stores every mail it takes in a folder.

Each mail becomes <n>.eml (the message as received) and <n>.json (the envelope), and is taken
apart for readers without a MIME parser: <n>.subject (decoded), <n>.body (the text part,
decoded), <n>.headers (the header names, one a line) and <n>.parts/<file name> (each attachment,
decoded), <n>.types (file name and content type, one a line). Prints
"READY <port>" once it listens on 127.0.0.1. Options: --password P requires AUTH with password P;
--reject-rcpt refuses every recipient; --silent accepts connections and never answers;
--discard takes mails and keeps nothing (for benchmarks); --refuse-while FILE answers every mail
with "451 try again later" while FILE exists; --hold-while FILE answers no recipient while FILE
exists; --delay SECONDS takes that long over each mail.
"""
import argparse
import asyncio
import email
import email.header
import email.policy
import json
import os
import socket
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Drop:
    def __init__(self, folder, reject_rcpt, discard, refuse_while=None, delay=0, hold_while=None):
        self.folder = folder
        self.hold_while = hold_while
        self.delay = delay
        self.refuse_while = refuse_while
        self.reject_rcpt = reject_rcpt
        self.discard = discard
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        while self.hold_while and os.path.exists(self.hold_while):
            await asyncio.sleep(0.1)
        if self.reject_rcpt:
            return "550 5.1.1 Mailbox unavailable: " + address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        await asyncio.sleep(self.delay)
        if self.refuse_while and os.path.exists(self.refuse_while):
            return "451 4.3.0 Try again later"
        if self.discard:
            return "250 Message discarded"
        self.count += 1
        base = os.path.join(self.folder, "%03d" % self.count)
        with open(base + ".eml.part", "wb") as out:
            out.write(envelope.original_content)
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        with open(base + ".subject", "w", encoding="utf-8") as out:
            out.write(str(email.header.make_header(email.header.decode_header(message["Subject"] or ""))))
        with open(base + ".headers", "w") as out:
            out.write("\n".join(message.keys()) + "\n")
        os.makedirs(base + ".parts", exist_ok=True)
        types = []
        for part in message.walk():
            if part.is_multipart():
                continue
            payload = part.get_payload(decode=True) or b""
            if part.get_filename():
                with open(os.path.join(base + ".parts", part.get_filename()), "wb") as out:
                    out.write(payload)
                types.append(part.get_filename() + " " + part.get_content_type())
            else:
                with open(base + ".body", "wb") as out:
                    out.write(payload)
        with open(base + ".types", "w") as out:
            out.write("\n".join(types) + "\n")
        with open(base + ".json", "w") as out:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, out)
        with open(base + ".envelope", "w") as out:
            out.write("\n".join([envelope.mail_from] + envelope.rcpt_tos) + "\n")
        os.rename(base + ".eml.part", base + ".eml")  # last: a reader waits for this name
        return "250 Message accepted"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--password")
    parser.add_argument("--reject-rcpt", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--discard", action="store_true")
    parser.add_argument("--refuse-while")
    parser.add_argument("--hold-while")
    parser.add_argument("--delay", type=float, default=0)
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    port = args.port or free_port()

    if args.silent:
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.listen()
        print("READY %d" % port, flush=True)
        held = []
        while True:
            connection, _ = listener.accept()
            held.append(connection)  # never answered

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = args.password is not None and auth_data.password.decode() == args.password
        if ok:
            return AuthResult(success=True)
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Authentication credentials invalid")

    controller = Controller(
        Drop(args.folder, args.reject_rcpt, args.discard, args.refuse_while, args.delay, args.hold_while), hostname="127.0.0.1", port=port,
        authenticator=authenticate if args.password is not None else None,
        auth_required=args.password is not None, auth_require_tls=False,
        data_size_limit=200 * 1024 * 1024)
    controller.start()
    print("READY %d" % port, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
