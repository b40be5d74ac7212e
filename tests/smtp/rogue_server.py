"""A scripted SMTP server on 127.0.0.1 that misbehaves on purpose, for the
transport's fault tests.

Prints the port it listens on as the first line of standard output, then
serves until its standard input closes. It speaks just enough SMTP to take
mail (no TLS; AUTH only with --auth), and at one stage of the dialogue
(--stage: greeting, ehlo, auth, mail, rcpt, data, dot for the end of the data)
it does the --fault instead of answering:

  endless  an endless multi-line reply ("250-xxx..." for ever)
  no-eol   reply bytes for ever, without a line end
  stall    no answer at all; the connection stays open
  421      "421 4.3.2 Service shutting down", then it hangs up
  slow     the usual answer, after --delay seconds

each time the stage is reached, or only the times listed in --on (counted
from 1 over the server's life, e.g. --on 1,2), and from RCPT on only in the
transactions for the recipients given with --rcpt, if any.
With --auth PLAIN or LOGIN the EHLO reply offers that mechanism and every
AUTH is refused with a reply that echoes the client's last line, as careless
servers do. state.json in --store counts connections and lists the
recipients of each accepted message.
"""

import argparse
import asyncio
import json
import os
import sys
import threading

REFUSAL = b"421 4.3.2 Service shutting down\r\n"


class Server:
    def __init__(self, options):
        self.options = options
        self.reached = 0
        self.connections = 0
        self.messages = []
        self.save()

    def save(self):
        path = os.path.join(self.options.store, "state.json")
        with open(path + ".tmp", "w") as f:
            json.dump({"connections": self.connections, "messages": self.messages}, f)
        os.replace(path + ".tmp", path)

    def faulty(self, stage, recipient=None):
        if stage != self.options.stage:
            return False
        if self.options.rcpt and recipient not in self.options.rcpt:
            return False
        self.reached += 1
        return not self.options.on or self.reached in self.options.on

    async def reply(self, writer, stage, text, recipient=None):
        """Answers `text` at `stage`, or misbehaves there. False when the
        connection is over."""
        if self.faulty(stage, recipient):
            fault = self.options.fault
            if fault == "slow":
                await asyncio.sleep(self.options.delay)
            elif fault == "421":
                writer.write(REFUSAL)
                await writer.drain()
                return False
            else:
                chunk = {"endless": b"250-" + b"x" * 70 + b"\r\n",
                         "no-eol": b"x" * 74, "stall": b""}[fault] * 1000
                while True:
                    if chunk:
                        writer.write(chunk)
                        await writer.drain()
                    else:
                        await asyncio.sleep(3600)
        writer.write(text.encode() + b"\r\n")
        await writer.drain()
        return True

    async def authenticate(self, reader, writer, command):
        """Answers AUTH with a refusal that echoes the client's last line."""
        last = command.split()[-1] if len(command.split()) > 2 else ""
        if command.upper().startswith("AUTH LOGIN"):
            for prompt in ("334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6"):
                if not await self.reply(writer, "auth", prompt):
                    return False
                last = (await reader.readline()).decode().strip()
        elif not last:
            writer.write(b"334 \r\n")
            last = (await reader.readline()).decode().strip()
        return await self.reply(writer, "auth", f"535 5.7.8 Authentication failed: {last}")

    async def session(self, reader, writer):
        self.connections += 1
        self.save()
        recipients = []
        ok = await self.reply(writer, "greeting", "220 rogue.invalid ESMTP")
        while ok:
            line = await reader.readline()
            if not line:
                break
            command = line.decode(errors="replace").strip()
            verb = command[:4].upper()
            if verb == "EHLO":
                lines = ["250-rogue.invalid"]
                if self.options.pipelining:
                    lines.append("250-PIPELINING")
                if self.options.auth:
                    lines.append(f"250-AUTH {self.options.auth}")
                ok = await self.reply(writer, "ehlo", "\r\n".join(lines + ["250 8BITMIME"]))
            elif verb == "AUTH":
                ok = await self.authenticate(reader, writer, command)
            elif verb == "MAIL":
                recipients = []
                ok = await self.reply(writer, "mail", "250 2.1.0 Ok")
            elif verb == "RCPT":
                recipients.append(command.split(":", 1)[1].strip().strip("<>"))
                ok = await self.reply(writer, "rcpt", "250 2.1.5 Ok", recipients[-1])
            elif verb == "DATA":
                recipient = recipients[0] if recipients else None
                ok = await self.reply(writer, "data", "354 End data with <CR><LF>.<CR><LF>",
                                      recipient)
                while ok and (line := await reader.readline()) not in (b".\r\n", b""):
                    pass
                if ok and line:
                    ok = await self.reply(writer, "dot", "250 2.0.0 Ok: queued", recipient)
                    if ok:
                        self.messages.append(recipients)
                        self.save()
            elif verb == "QUIT":
                await self.reply(writer, "quit", "221 2.0.0 Bye")
                break
            else:
                ok = await self.reply(writer, "other", "250 2.0.0 Ok")
        writer.close()

    async def guarded(self, reader, writer):
        try:
            await self.session(reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError):
            writer.close()


async def serve(options):
    server = Server(options)
    listener = await asyncio.start_server(server.guarded, "127.0.0.1", 0)
    print(listener.sockets[0].getsockname()[1], flush=True)
    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def wait_for_stdin_end():
        while sys.stdin.buffer.read1(4096):
            pass
        loop.call_soon_threadsafe(stdin_closed.set_result, None)

    threading.Thread(target=wait_for_stdin_end, daemon=True).start()
    async with listener:
        await stdin_closed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--stage", default="none",
                        choices=["none", "greeting", "ehlo", "auth", "mail", "rcpt", "data",
                                 "dot"])
    parser.add_argument("--fault", default="stall",
                        choices=["endless", "no-eol", "stall", "421", "slow"])
    parser.add_argument("--on", type=lambda text: {int(n) for n in text.split(",")},
                        default=set())
    parser.add_argument("--rcpt", action="append", default=[], metavar="ADDRESS")
    parser.add_argument("--delay", type=float, default=0)
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--auth", choices=["PLAIN", "LOGIN"])
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
