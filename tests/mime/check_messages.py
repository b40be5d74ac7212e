#!/usr/bin/python3
"""Checks the message writer's output with Python's strict e-mail parser.

Runs the sample writer into a fresh folder, then parses every message with
email.policy.default and checks that names, addresses, subject and body
decode to exactly what was written, that the parser records no defect, that
every line ends in CR LF, and that header lines stay within 78 characters and
base64 lines within 76. A name that is encoded takes as few encoded-words as
the 75-character limit allows.

Usage: check_messages.py WRITER_PROGRAM [FOLDER]
"""

import base64
import email.header
import email.parser
import email.policy
import json
import os
import re
import subprocess
import sys
import tempfile
import urllib.parse

EXPECTED_HEADERS = [
    "Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
    "Content-Type", "Content-Transfer-Encoding",
]


def is_control(ch):
    code = ord(ch)
    return code < 0x20 or 0x7F <= code <= 0x9F


def clean_header_text(text, keep=""):
    """Controls are written as blanks so that no value can end its line."""
    return "".join(" " if is_control(ch) and ch not in keep else ch for ch in text)


def expected_subject(subject):
    """An unstructured header may carry a tab: the subject keeps it."""
    return clean_header_text(subject, keep="\t")


def fewest_encoded_words(text):
    """How many encoded-words of at most 75 characters (45 bytes of UTF-8 in
    base64) `text` needs when each takes as many whole characters as fit."""
    words, size = 0, 45
    for ch in text:
        length = len(ch.encode("utf-8"))
        if size + length > 45:
            words, size = words + 1, 0
        size += length
    return words


def expected_name(name):
    return clean_header_text(name).strip(" \u3000")


def without_blanks(text):
    return re.sub(r"\s+", "", text)


def decode_phrase(raw_value):
    """Decodes the display name of a raw header value by RFC 2047 alone."""
    unfolded = raw_value.replace("\r\n", "")
    phrase = unfolded.rsplit("<", 1)[0] if unfolded.rstrip().endswith(">") else ""
    decoded = str(email.header.make_header(email.header.decode_header(phrase)))
    decoded = decoded.strip()
    if decoded.startswith('"') and decoded.endswith('"'):
        decoded = re.sub(r'\\(.)', r"\1", decoded[1:-1])
    return decoded


def check_lines(raw, problems):
    head, sep, body = raw.partition(b"\r\n\r\n")
    if not sep:
        problems.append("no empty line after the headers")
    stripped = raw.replace(b"\r\n", b"")
    if b"\r" in stripped or b"\n" in stripped:
        problems.append("a line ends in something other than CR LF")
    if not raw.endswith(b"\r\n"):
        problems.append("the last line has no CR LF")
    for line in head.split(b"\r\n"):
        if len(line) > 78:
            problems.append("header line of %d characters: %r" % (len(line), line[:40]))
        if any(b > 0x7E for b in line):
            problems.append("8-bit byte in a header line: %r" % line[:40])
    # Part headers stand in the body of a multipart message: 78, as above.
    limit = 78 if b"multipart/" in head else 76
    for line in body.split(b"\r\n"):
        if len(line) > limit:
            problems.append("body line of %d characters" % len(line))


NAME_IN_WORDS = {"encoded word inside quoted string",
                 "missing trailing whitespace after encoded-word"}


def decode_words(value):
    return str(email.header.make_header(email.header.decode_header(value)))


def structure(part):
    """The tree of content types, e.g. multipart/mixed(text/plain,image/png)."""
    if not part.is_multipart():
        return part.get_content_type()
    return "%s(%s)" % (part.get_content_type(), ",".join(structure(p) for p in part.iter_parts()))


def check_rich(msg, expected, problems):
    """Parts as expected: the text, the HTML whose cid: addresses all name an
    image part (read back as file names, it is the HTML written), and each
    file under its exact name with its exact bytes."""
    if structure(msg) != expected["structure"]:
        problems.append("structure %s, expected %s" % (structure(msg), expected["structure"]))
        return
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    for part in leaves:
        # name= in encoded-words, which RFC 2047 keeps out of quoted strings,
        # is what older mailers read (newer ones take filename*): the only
        # defect allowed, and the name must decode exactly all the same.
        defects = part.defects + [d for k in part.keys() for d in part[k].defects
                                  if k != "Content-Type" or str(d) not in NAME_IN_WORDS]
        if defects:
            problems.append("part defects: %r" % defects)
        raw_type = re.sub(r"\r?\n", "", dict(part.raw_items())["Content-Type"])
        name = re.search(r'name="(.*)"', raw_type)
        if name is not None and decode_words(name.group(1)) != part.get_filename():
            problems.append("name= %r is not the file name %r" % (name.group(1),
                                                                   part.get_filename()))
    if leaves[0].get_content() != expected["text"]:
        problems.append("text part differs")
    by_id = {p["Content-ID"].strip("<>"): p for p in leaves if p["Content-ID"]}
    html = [p for p in leaves if p.get_content_type() == "text/html"]
    if html:
        def name_of(match):
            part = by_id.get(urllib.parse.unquote(match.group(1)))
            if part is None:
                problems.append("cid:%s names no part" % match.group(1))
                return match.group(0)
            return part.get_filename()
        shown = re.sub(r"cid:([^\"' >]+)", name_of, html[0].get_content())
        if shown != expected["html"]:
            problems.append("HTML differs: %r" % shown[:200])
    for file in expected["files"]:
        if not any(p.get_filename() == file["name"] and
                   p.get_content_disposition() == file["disposition"] and
                   p.get_payload(decode=True) == base64.b64decode(file["base64"]) for p in leaves):
            problems.append("no %s part %r with its content" % (file["disposition"], file["name"]))


def check_mailbox(msg, header, name, address, problems):
    # Python's default policy reads a display name as a phrase: it shows a
    # run of blanks as one and puts a blank between adjacent encoded-words
    # (RFC 2047 drops it). So the name is checked twice: exactly by
    # RFC 2047 decoding, and blank-insensitively through the strict parser.
    raw_value = dict(msg.raw_items())[header]
    if decode_phrase(raw_value) != expected_name(name):
        problems.append("%s name decodes to %r, expected %r" % (
            header, decode_phrase(raw_value), expected_name(name)))
    words = raw_value.count("=?UTF-8?B?")
    if words and words != fewest_encoded_words(expected_name(name)):
        problems.append("%s name in %d encoded-words, %d would do" % (
            header, words, fewest_encoded_words(expected_name(name))))
    value = msg[header]
    if value is None:
        problems.append("no %s header" % header)
        return
    if value.defects:
        problems.append("%s defects: %r" % (header, value.defects))
    addresses = value.addresses
    if len(addresses) != 1:
        problems.append("%s holds %d addresses: %r" % (header, len(addresses), str(value)))
        return
    if without_blanks(addresses[0].display_name) != without_blanks(expected_name(name)):
        problems.append("%s name %r, expected %r" % (header, addresses[0].display_name,
                                                     expected_name(name)))
    if addresses[0].addr_spec != address:
        problems.append("%s address %r, expected %r" % (header, addresses[0].addr_spec,
                                                        address))


def check_message(raw, expected):
    problems = []
    check_lines(raw, problems)
    msg = email.parser.BytesParser(policy=email.policy.default).parsebytes(raw)
    if msg.defects:
        problems.append("message defects: %r" % msg.defects)
    names = [key for key, _ in msg.raw_items()]
    rich = expected["structure"] != "text/plain"
    if names != (EXPECTED_HEADERS[:-1] if rich else EXPECTED_HEADERS):
        problems.append("headers %r" % names)
    for key in set(names):
        if msg[key].defects:
            problems.append("%s defects: %r" % (key, msg[key].defects))
    check_mailbox(msg, "From", expected["from_name"], expected["from_address"], problems)
    check_mailbox(msg, "To", expected["to_name"], expected["to_address"], problems)
    subject = str(msg["Subject"])
    if subject != expected_subject(expected["subject"]):
        problems.append("subject %r, expected %r" % (subject, expected_subject(expected["subject"])))
    if msg["Date"] is None or msg["Date"].datetime is None:
        problems.append("unreadable Date")
    if rich:
        check_rich(msg, expected, problems)
        return problems
    if msg.get_content_type() != "text/plain" or msg.get_content_charset() != "utf-8":
        problems.append("content type %r" % msg.get_content_type())
    body = msg.get_payload(decode=True).decode("utf-8")
    if body != expected["text"]:
        problems.append("body differs (%d against %d characters)" %
                        (len(body), len(expected["text"])))
    if msg.get_content() != expected["text"]:
        problems.append("get_content() differs from the body")
    return problems


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="pinemail-mime-") as scratch:
        folder = sys.argv[2] if len(sys.argv) == 3 else scratch
        os.makedirs(folder, exist_ok=True)
        subprocess.run([sys.argv[1], folder], check=True)
        with open(os.path.join(folder, "expected.json"), encoding="utf-8") as index:
            samples = json.load(index)
        failures = 0
        for expected in samples:
            with open(os.path.join(folder, expected["file"]), "rb") as message:
                problems = check_message(message.read(), expected)
            for problem in problems:
                print("%s: %s" % (expected["file"], problem))
            failures += bool(problems)
        print("%d messages checked, %d with problems" % (len(samples), failures))
        return 1 if failures or not samples else 0


if __name__ == "__main__":
    sys.exit(main())
