#!/usr/bin/python3
"""The DNS TXT lookup and the deliverability check against a loopback DNS
server. Wine's DNS client asks a chosen server on port 53 only: for the
Windows build the server listens there, on a 127.0.0.0/8 address of its own.

Usage: test_dns.py CHECK_DELIVERABILITY_PROGRAM [unittest options]
"""

import pathlib
import random
import socket
import subprocess
import sys
import threading
import unittest

from dnslib import QTYPE, RCODE, RR, TXT, DNSRecord

TOOL = None
WINE_RUN = pathlib.Path(__file__).resolve().parents[3] / "cmake" / "wine-run"
SILENT = "slow.example.jp."
ZONE = {  # name: its TXT records, each a list of strings
    "example.jp.": [["v=spf1 ", "include:_spf.example.jp -all"]],
    "_dmarc.example.jp.": [["v=DMARC1; p=reject"]],
    "gmail.jp.": [["v=spf1 -all"], ["site-verification=1"]], "bare.jp.": []}


def serve(sock):
    while True:
        data, peer = sock.recvfrom(4096)
        request = DNSRecord.parse(data)
        name = str(request.q.qname).lower()
        reply = request.reply()
        reply.header.rcode = RCODE.NOERROR if name in ZONE else RCODE.NXDOMAIN
        for strings in ZONE.get(name, []) if request.q.qtype == QTYPE.TXT else []:
            reply.add_answer(RR(name, QTYPE.TXT, rdata=TXT([s.encode() for s in strings])))
        if name != SILENT:
            sock.sendto(reply.pack(), peer)


class DnsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = TOOL.endswith(".exe")
        cls.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        cls.socket.bind(("127.0.%d.%d" % (random.randrange(1, 255), random.randrange(2, 255)), 53)
                        if cls.wine else ("127.0.0.1", 0))
        threading.Thread(target=serve, args=(cls.socket,), daemon=True).start()

    def tool(self, *args):
        server = "%s:%d" % self.socket.getsockname()
        return subprocess.run([str(WINE_RUN)] * self.wine + [TOOL, server, *args], check=True,
                              capture_output=True, timeout=120).stdout.decode().splitlines()

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
