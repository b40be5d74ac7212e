#!/usr/bin/python3
"""The DNS TXT lookup and the deliverability check against a loopback DNS
server (dnslib) that serves fixed records and never answers one name. The
Windows build runs under Wine, whose DNS client asks a chosen server on
port 53 only: the server then listens there on an address of 127.0.0.0/8 of
its own.

Usage: test_dns.py CHECK_DELIVERABILITY_PROGRAM [unittest options]
"""

import pathlib
import random
import socket
import subprocess
import sys
import threading
import unittest

from dnslib import QTYPE, RCODE, RR, TXT, A, DNSRecord

TOOL = None
WINE_RUN = pathlib.Path(__file__).resolve().parents[3] / "cmake" / "wine-run"
SILENT = "slow.example.jp."  # asked, never answered
ZONE = {  # name: its records, (type, value)
    "example.jp.": [("TXT", ["v=spf1 ", "include:_spf.example.jp -all"])],
    "_dmarc.example.jp.": [("TXT", ["v=DMARC1; p=reject"])],
    "gmail.jp.": [("TXT", ["v=spf1 -all"]), ("TXT", ["site-verification=1"])],
    "bare.jp.": [("A", "192.0.2.1")],
}


class DnsServer:
    def __init__(self, on_port_53):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if on_port_53:
            self.socket.bind(("127.0.%d.%d" % (random.randrange(1, 255), random.randrange(2, 255)),
                              53))
        else:
            self.socket.bind(("127.0.0.1", 0))
        self.address = "%s:%d" % self.socket.getsockname()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            data, peer = self.socket.recvfrom(4096)
            request = DNSRecord.parse(data)
            name = str(request.q.qname).lower()
            if name == SILENT:
                continue
            reply = request.reply()
            if name not in ZONE:
                reply.header.rcode = RCODE.NXDOMAIN
            for kind, value in ZONE.get(name, []):
                if QTYPE[request.q.qtype] == kind:
                    data = TXT([part.encode() for part in value]) if kind == "TXT" else A(value)
                    reply.add_answer(RR(name, getattr(QTYPE, kind), rdata=data))
            self.socket.sendto(reply.pack(), peer)


class DnsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = TOOL.endswith(".exe")
        cls.server = DnsServer(cls.wine)

    def tool(self, *args):
        wine = [str(WINE_RUN)] if self.wine else []
        done = subprocess.run(wine + [TOOL, self.server.address, *args], capture_output=True,
                              timeout=120, check=True)
        return done.stdout.decode().splitlines()

    def test_lookups(self):
        for name, expected in [
                ("example.jp", ["records", "v=spf1 include:_spf.example.jp -all"]),
                ("gmail.jp", ["records", "v=spf1 -all", "site-verification=1"]),
                ("bare.jp", ["none"]), ("nowhere.jp", ["none"]),
                ("slow.example.jp", ["no answer"])]:
            with self.subTest(name=name):
                # The outcome, without the reason (for no answer, the system's).
                outcome, *records = self.tool("txt", name)
                self.assertEqual(expected, [outcome.split("\t")[0], *records])

    def test_checks(self):
        for sender, host, kinds in [
                ("a@nowhere.jp", "smtp.nowhere.jp", ["warning", "warning"]),
                ("a@gmail.jp", "smtp.gmail.jp", ["warning"]),
                ("a@example.jp", "smtp.hosting.ne.jp", ["error"]),
                ("a@example.jp", "smtp.example.jp", []),
                ("a@slow.example.jp", "", ["warning"])]:
            with self.subTest(sender=sender, host=host):
                found = self.tool("check", sender, host, "b@docomo.ne.jp")
                self.assertEqual(kinds + ["advice"], [line.split("\t")[0] for line in found])


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
