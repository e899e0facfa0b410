#!/usr/bin/env python3
"""A test mail server on a free loopback port.

Usage: smtp_sink.py OUTPUT_FILE

Prints the port it listens on, then appends one JSON line per message it
accepts to OUTPUT_FILE, decoded as a mail reader would: envelope, headers,
content type, charset and body text. Recipients whose address begins with
"refuse" are refused (550). Stops when its standard input closes, and after
five minutes in any case.
"""
import asyncio
import email
import email.policy
import json
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, path):
        self.path = path

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refuse"):
            return "550 mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "from": str(msg["From"]),
            "to": str(msg["To"]),
            "subject": str(msg["Subject"]),
            "content_type": msg.get_content_type(),
            "charset": msg.get_content_charset(),
            "priority": msg.get("X-Priority", ""),
            "body": msg.get_content(),
        }
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record, ensure_ascii=False) + "\n")
        return "250 OK"


async def main(path):
    loop = asyncio.get_running_loop()
    handler = Sink(path)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="localhost", decode_data=False), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    stdin_closed = loop.run_in_executor(None, sys.stdin.read)
    await asyncio.wait_for(stdin_closed, timeout=300)
    server.close()


if __name__ == "__main__":
    try:
        asyncio.run(main(sys.argv[1]))
    except asyncio.TimeoutError:
        pass
    # The thread still reading standard input must not keep the process.
    os._exit(0)
