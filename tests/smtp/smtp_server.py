"""A recording SMTP server on 127.0.0.1 (or the --listen address) for the
transport tests.

Prints the port it listens on (a free one, chosen by the system) as the first
line of standard output, then serves until it is terminated or its standard
input closes. Every accepted message is written to the --store folder as
NNNN.eml (the bytes as received) and NNNN.json (envelope sender and
recipients); state.json there counts connections, TLS sessions, successful
logins and the commands seen (with --times also the monotonic time each
arrived, in "times"), updated after each event. With --pipelining the EHLO reply offers
PIPELINING, and a MAIL that arrived together with the commands after it is
counted in "pipelined"; "most_ahead" is the most MAIL commands that were
waiting behind one being read, and "joined" counts the messages whose end
arrived together with the next MAIL. With --chunking it offers CHUNKING as well
(RFC 3030): BDAT chunks, the last one ending the transaction whatever its
reply. --size BYTES announces that SIZE limit. --refuse ADDRESS refuses that recipient at RCPT; --tempfail
ADDRESS:N does so temporarily (451 4.3.0) N times; --refuse-message ADDRESS
takes the whole message for it and then refuses it (554 5.6.0), and
--tempfail-message ADDRESS:N does so temporarily (452 4.3.1) N times.
--refuse-mail "N:REPLY" answers the Nth MAIL command of the server's life
with REPLY, and closes the connection when REPLY is a 421; --mail-out-of-step
N answers it with 503 yet takes the transaction after it.
With --lean (for benchmarks) the server only counts: no commands kept, no
message stored, state.json written when it stops.

A provider's limits, on request: --refuse-sender-after N refuses the sender
(MAIL FROM, 550 5.4.5) once N messages were accepted, as a daily limit does;
--burst N:J answers the J MAIL commands after every N accepted messages with
421 4.7.0 and closes the connection, as a provider pushing back on a burst
does.

--auth-refusal REPLY answers a failed AUTH with REPLY in place of 535 5.7.8.

--xoauth2 USER:FILE offers AUTH XOAUTH2 only and accepts USER with any
access token listed in FILE (one a line; the loopback authorization
server's access_tokens).
"""

import argparse
import asyncio
import json
import logging
import os
import ssl
import sys
import threading
import time
import warnings
from base64 import b64decode

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


class State:
    def __init__(self, store, keep_times, lean):
        self.store = store
        self.keep_times = keep_times
        self.lean = lean
        self.connections = 0
        self.starttls = 0
        self.logins = 0
        self.failed_logins = 0
        self.commands = []
        self.times = []
        self.messages = 0
        self.pipelined = 0
        self.most_ahead = 0
        self.joined = 0
        self.tempfails = {}
        self.rcpt_args = []  # as the client wrote them (the handler gets them unquoted)
        os.makedirs(store, exist_ok=True)
        self.save()

    def command(self, name):
        if self.lean:
            return
        self.commands.append(name)
        if self.keep_times:
            self.times.append(time.monotonic())
        self.save()

    def save(self):
        data = {key: getattr(self, key) for key in
                ("connections", "starttls", "logins", "failed_logins", "commands", "times",
                 "messages", "pipelined", "most_ahead", "joined", "rcpt_args")}
        temp = os.path.join(self.store, "state.json.tmp")
        with open(temp, "w") as f:
            json.dump(data, f)
        os.replace(temp, os.path.join(self.store, "state.json"))


def counts(items):
    """{"a@b": N} from ["a@b:N", ...]."""
    return {address: int(count) for address, count in (i.rsplit(":", 1) for i in items)}


class Handler:
    def __init__(self, state, options):
        self.state = state
        self.pipelining = options.pipelining
        self.chunking = options.chunking
        self.refused = set(options.refuse)
        self.refused_messages = set(options.refuse_message)
        self.tempfail = counts(options.tempfail)
        self.tempfail_messages = counts(options.tempfail_message)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(-1, "250-PIPELINING")
        if self.chunking:
            responses.insert(-1, "250-CHUNKING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        if self.tempfail.get(address, 0) > 0:
            self.tempfail[address] -= 1
            return "451 4.3.0 Mailbox busy, try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.refused_messages.intersection(envelope.rcpt_tos):
            return "554 5.6.0 Message refused"
        for address in envelope.rcpt_tos:
            if self.tempfail_messages.get(address, 0) > 0:
                self.tempfail_messages[address] -= 1
                return "452 4.3.1 Insufficient system storage"
        self.state.messages += 1
        if self.state.lean:
            return "250 2.0.0 Message accepted"
        base = os.path.join(self.state.store, f"{self.state.messages:04d}")
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
        self.state.save()
        return "250 2.0.0 Message accepted"


def make_server_class(state, options):
    every, refusals = (int(n) for n in options.burst.split(":")) if options.burst else (0, 0)
    pushed = {}  # accepted count -> refusals given since
    refused_mails = dict((int(n), reply) for n, reply in
                         (item.split(":", 1) for item in options.refuse_mail))

    def pushing_back():
        if not every or state.messages == 0 or state.messages % every:
            return False
        given = pushed.get(state.messages, 0)
        pushed[state.messages] = given + 1
        return given < refusals

    class RecordingSMTP(SMTP):
        def connection_made(self, transport):
            upgraded = self._original_transport is not None
            super().connection_made(transport)
            if upgraded:
                state.starttls += 1
                state.command("TLS")
            else:
                state.connections += 1
                state.command("CONNECT")

        async def smtp_EHLO(self, arg):
            state.command("EHLO")
            await super().smtp_EHLO(arg)

        async def smtp_NOOP(self, arg):
            state.command("NOOP")
            await super().smtp_NOOP(arg)

        async def smtp_RSET(self, arg):
            state.command("RSET")
            await super().smtp_RSET(arg)

        async def smtp_MAIL(self, arg):
            state.command("MAIL")
            mails = state.commands.count("MAIL")
            refusal = refused_mails.get(mails)
            if not refusal and mails <= options.hang_up_on_mail and not state.lean:
                refusal = "421 4.3.2 Service shutting down"
            elif not refusal and pushing_back():
                refusal = "421 4.7.0 Try again later, closing connection"
            if mails in options.mail_out_of_step:
                # As a server still holding a transaction: MAIL is out of
                # sequence, the recipient and message go into the one held.
                self.envelope.mail_from = arg.partition("<")[2].partition(">")[0]
                refusal = "503 5.5.1 Error: nested MAIL command"
            if refusal:
                await self.push(refusal)
                # A server shutting down, or pushing back: it closes at once.
                if refusal.startswith("421"):
                    self.transport.close()
                return
            if options.refuse_sender_after and state.messages >= options.refuse_sender_after:
                await self.push("550 5.4.5 Daily user sending limit exceeded")
                return
            # The reader's buffer (private to asyncio) already holds what the
            # client sent after this command without waiting for its reply.
            waiting = getattr(self._reader, "_buffer", None)
            if waiting:
                state.pipelined += 1
                state.most_ahead = max(state.most_ahead, bytes(waiting).count(b"MAIL FROM:"))
            await super().smtp_MAIL(arg)

        async def auth_XOAUTH2(self, _, args):
            if not options.xoauth2:
                return AuthResult(success=False)
            response = await self.challenge_auth("") if len(args) == 1 else args[1].encode()
            if response is MISSING:
                return AuthResult(success=False)
            if len(args) > 1:
                response = b64decode(response)
            user, tokens = options.xoauth2.split(":", 1)
            with open(tokens) as f:
                accepted = [f"user={user}\x01auth=Bearer {t}\x01\x01".encode()
                            for t in f.read().split()]
            ok = response in accepted
            state.logins += ok
            state.failed_logins += not ok
            state.save()
            return AuthResult(success=ok)

        async def smtp_BDAT(self, arg):
            state.command("BDAT")
            words = (arg or "").split()
            if (not options.chunking or not 1 <= len(words) <= 2 or not words[0].isdigit()
                    or (len(words) == 2 and words[1].upper() != "LAST")):
                await self.push("501 5.5.4 Syntax: BDAT size [LAST]")
                return
            chunk = await self._reader.readexactly(int(words[0]))
            last = len(words) == 2
            envelope = self.envelope
            if not envelope.rcpt_tos:
                # The chunk is read all the same; the transaction is over.
                self._set_post_data_state()
                await self.push("554 5.5.1 Error: no valid recipients")
                return
            chunks = getattr(envelope, "chunks", [])
            envelope.chunks = chunks + [chunk]
            if not last:
                await self.push("250 2.0.0 Chunk accepted")
                return
            envelope.original_content = envelope.content = b"".join(envelope.chunks)
            status = await self.event_handler.handle_DATA(self, self.session, envelope)
            self._set_post_data_state()
            await self.push(status)

        async def smtp_RCPT(self, arg):
            if not state.lean:
                state.rcpt_args.append(arg)
            await super().smtp_RCPT(arg)

        async def smtp_QUIT(self, arg):
            state.command("QUIT")
            await super().smtp_QUIT(arg)

        async def smtp_DATA(self, arg):
            before = state.messages
            await super().smtp_DATA(arg)
            # Counted only: the next command or message writes the state.
            if bytes(getattr(self._reader, "_buffer", b"")).startswith(b"MAIL FROM:"):
                state.joined += 1
            # Drops the connection right after the reply to the message that
            # reached the count, as a server restarting between messages would.
            if (options.drop_after and before < options.drop_after <= state.messages
                    and self.transport is not None):
                state.command("DROP")
                self.transport.close()

    return RecordingSMTP


def make_authenticator(state, user, password, refusal):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == user and auth_data.password.decode() == password)
        if ok:
            state.logins += 1
        else:
            state.failed_logins += 1
        state.save()
        # Not "handled": aiosmtpd then answers a refusal with 535 itself.
        return AuthResult(success=ok, handled=False, message=None if ok else refusal)
    return authenticate


def tls_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


async def serve(options):
    state = State(options.store, options.times, options.lean)
    handler = Handler(state, options)
    server_class = make_server_class(state, options)
    kwargs = {"hostname": "test.invalid"}
    listen_ssl = None
    if options.size:
        kwargs["data_size_limit"] = options.size
    if options.starttls:
        kwargs["tls_context"] = tls_context(*options.starttls)
        kwargs["require_starttls"] = True
    if options.implicit_tls:
        listen_ssl = tls_context(*options.implicit_tls)
        # The session is encrypted from the start; aiosmtpd only knows
        # about STARTTLS, so it must not insist on it before AUTH.
        kwargs["auth_require_tls"] = False
    if options.xoauth2:
        kwargs["auth_exclude_mechanism"] = ["LOGIN", "PLAIN"]
        kwargs["auth_required"] = True
    if options.auth:
        user, password = options.auth.split(":", 1)
        kwargs["authenticator"] = make_authenticator(state, user, password, options.auth_refusal)
        kwargs["auth_required"] = True
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: server_class(handler, **kwargs),
                                      options.listen, 0, ssl=listen_ssl)
    print(server.sockets[0].getsockname()[1], flush=True)
    stdin_closed = loop.create_future()

    def wait_for_stdin_end():
        while sys.stdin.buffer.read1(4096):
            pass
        loop.call_soon_threadsafe(stdin_closed.set_result, None)

    threading.Thread(target=wait_for_stdin_end, daemon=True).start()
    async with server:
        await stdin_closed
    state.save()


def main():
    # Refused handshakes and the AUTH-without-STARTTLS set-up of the
    # implicit-TLS server are expected here; their warnings are noise.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.simplefilter("ignore")
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--listen", default="127.0.0.1", metavar="ADDRESS")
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--implicit-tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--auth", metavar="USER:PASS")
    parser.add_argument("--auth-refusal", metavar="REPLY")
    parser.add_argument("--xoauth2", metavar="USER:FILE")
    parser.add_argument("--refuse", action="append", default=[], metavar="ADDRESS")
    parser.add_argument("--tempfail", action="append", default=[], metavar="ADDRESS:N")
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--chunking", action="store_true")
    parser.add_argument("--size", type=int, metavar="BYTES")
    parser.add_argument("--refuse-message", action="append", default=[], metavar="ADDRESS")
    parser.add_argument("--tempfail-message", action="append", default=[], metavar="ADDRESS:N")
    parser.add_argument("--refuse-mail", action="append", default=[], metavar="N:REPLY")
    parser.add_argument("--mail-out-of-step", action="append", default=[], type=int,
                        metavar="N")
    parser.add_argument("--hang-up-on-mail", type=int, default=0, metavar="N")
    parser.add_argument("--drop-after", type=int, default=0, metavar="N")
    parser.add_argument("--refuse-sender-after", type=int, default=0, metavar="N")
    parser.add_argument("--burst", metavar="N:J")
    parser.add_argument("--times", action="store_true")
    parser.add_argument("--lean", action="store_true",
                        help="count only: no commands or messages kept, the state written at the end")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
