"""A private Postfix smtpd on a loopback port, for the SMTP tests: a real MTA
as users meet it, started from its own configuration folder so that the
system's mail (and port 25) is never touched.

PostfixServer(...).start() writes main.cf and master.cf into a temporary
folder, lets `postfix -c DIR check` create the queue, and runs the master
daemon in the foreground until stop(). Messages for example.jp are delivered
by Postfix's virtual agent into one Maildir, so messages() gives the bytes
each recipient got. `listeners` names the smtpd services, each on its own
port (port[name]) with its own settings (smtpd_discard_ehlo_keywords hides
CHUNKING or PIPELINING; smtpd_sender_restrictions are checked at RCPT, by
Postfix's default delay). Refusals: `recipients` maps an address to an access
action ("REJECT", "450 4.2.2 mailbox full"); `header_checks` lines refuse a
message at the end of its data. Needs root (the master daemon drops to the
postfix user); available() says why not.
"""

import os
import pathlib
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
from email import message_from_bytes, policy

SBIN = pathlib.Path("/usr/lib/postfix/sbin")


def available():
    """Empty when a private instance can run here, else why not."""
    if not (SBIN / "master").exists() or not shutil.which("postfix"):
        return "Postfix is not installed (scripts/install-deps installs it)"
    if os.geteuid() != 0:
        return "a private Postfix instance needs root"
    return ""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class PostfixServer:
    def __init__(self, listeners, recipients=None, header_checks=()):
        self.listeners = listeners
        self.recipients = recipients or {}
        self.header_checks = header_checks
        self.port = {name: free_port() for name in listeners}
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="pinemail-postfix-"))
        self.master = None

    def main_cf(self):
        etc = self.root / "etc"
        return "".join(f"{key} = {value}\n" for key, value in {
            "compatibility_level": "3.6",
            "queue_directory": self.root / "queue",
            "data_directory": self.root / "data",
            "maillog_file": self.root / "maillog",
            "maillog_file_prefixes": self.root,
            "inet_interfaces": "127.0.0.1",
            "myhostname": "mx.example.jp",
            "mydestination": "",
            "mynetworks": "127.0.0.0/8",
            "virtual_mailbox_domains": "example.jp",
            "virtual_mailbox_base": self.root / "mail",
            "virtual_mailbox_maps": "static:all/",
            "virtual_uid_maps": f"static:{pwd.getpwnam('nobody').pw_uid}",
            "virtual_gid_maps": f"static:{pwd.getpwnam('nobody').pw_gid}",
            "default_transport": "discard:",
            "smtpd_recipient_restrictions": f"check_recipient_access texthash:{etc}/access",
            "header_checks": f"regexp:{etc}/header_checks",
            "enable_long_queue_ids": "yes",
            # As strict as the newest releases are by default: commands sent
            # ahead without PIPELINING, and a bare LF in a message, refused.
            "smtpd_forbid_unauth_pipelining": "yes",
            "smtpd_forbid_bare_newline": "yes",
            "smtpd_forbid_bare_newline_exclusions": "",
        }.items())

    def master_cf(self, default):
        """Debian's master.cf without its inet services and with nothing
        chrooted (a chroot would need copies of the system's files in the
        queue), and one smtpd per listener with its own settings."""
        lines = []
        for line in default.splitlines():
            fields = line.split()
            if line[:1] in ("", "#", " ", "\t") or len(fields) < 8:
                lines.append(line)
            elif fields[1] != "inet":
                lines.append(" ".join(fields[:4] + ["n"] + fields[5:]))
        for name, settings in self.listeners.items():
            lines.append(f"127.0.0.1:{self.port[name]} inet n - n - - smtpd")
            lines += [f"  -o {key}={value}" for key, value in settings.items()]
        return "\n".join(lines) + "\n"

    def write_config(self):
        etc = self.root / "etc"
        for folder in ("etc", "queue", "data", "mail"):
            (self.root / folder).mkdir()
        self.root.chmod(0o755)
        shutil.chown(self.root / "data", "postfix")
        shutil.chown(self.root / "mail", "nobody")
        (etc / "main.cf").write_text(self.main_cf())
        debian_master = pathlib.Path("/usr/share/postfix/master.cf.dist").read_text()
        (etc / "master.cf").write_text(self.master_cf(debian_master))
        (etc / "access").write_text("".join(f"{address} {action}\n"
                                            for address, action in self.recipients.items()))
        (etc / "header_checks").write_text("".join(f"{line}\n" for line in self.header_checks))

    def start(self):
        self.write_config()
        config = str(self.root / "etc")
        check = subprocess.run(["postfix", "-c", config, "check"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError(f"postfix check failed: {check.stdout}{check.stderr}")
        with open(self.root / "master.out", "wb") as output:
            self.master = subprocess.Popen([SBIN / "master", "-c", config, "-d"],
                                           stdout=output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.master.poll() is None:
            try:
                for port in self.port.values():
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return self
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"Postfix did not start: {self.log()}")

    def stop(self):
        if self.master and self.master.poll() is None:
            self.master.terminate()
            self.master.wait(timeout=30)
        shutil.rmtree(self.root, ignore_errors=True)

    def log(self):
        """The maillog (and before it, what the master daemon printed)."""
        paths = (self.root / "master.out", self.root / "maillog")
        return "".join(path.read_text(errors="replace") for path in paths if path.exists())

    def sessions(self, timeout=30):
        """The commands of each SMTP session that ended, as smtpd logs them
        ("ehlo=1 mail=5 rcpt=5 bdat=5 quit=1 commands=17"), once every
        session begun has ended."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.log().splitlines()
            ended = [line.split("]: disconnect from ")[1].split(" ", 1)[1] for line in lines
                     if "]: disconnect from " in line]
            if len(ended) == sum("]: connect from " in line for line in lines):
                return ended
            if time.monotonic() > deadline:
                raise RuntimeError(f"an SMTP session did not end: {lines[-20:]}")
            time.sleep(0.1)

    def settle(self, timeout=60):
        """Waits until every message taken is delivered: the queue is empty."""
        queue = self.root / "queue"
        deadline = time.monotonic() + timeout
        while any(path.is_file() for q in ("incoming", "active", "deferred")
                  for path in (queue / q).rglob("*")):
            if time.monotonic() > deadline:
                raise RuntimeError(f"Postfix queue not empty: {self.log()[-4000:]}")
            time.sleep(0.1)

    def clear(self):
        """Forgets the messages delivered so far."""
        self.settle()
        shutil.rmtree(self.root / "mail")
        (self.root / "mail").mkdir()
        shutil.chown(self.root / "mail", "nobody")

    def messages(self):
        """(envelope, parsed message) for every message delivered, in the order
        Postfix took them (long queue ids sort by time)."""
        self.settle()
        found = []
        for path in (self.root / "mail").glob("*/new/*"):
            message = message_from_bytes(path.read_bytes(), policy=policy.default)
            queue_id = message["Received"].split(" id ")[1].split()[0].rstrip(";")
            envelope = {"mail_from": message["Return-Path"].strip("<>"),
                        "rcpt_tos": [message["Delivered-To"]]}
            found.append((queue_id, envelope, message))
        return [(envelope, message) for _, envelope, message in sorted(found, key=lambda f: f[0])]
