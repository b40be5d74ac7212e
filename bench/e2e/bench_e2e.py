"""End-to-end throughput of pinemail against postfix's smtp-sink on loopback.

For lists of 1,000, 10,000 and 100,000 Japanese records (the same every
time: a seeded generator) it measures pinemail's messages per second over one
SMTP connection and its peak resident set size (/usr/bin/time -v), and
smtp-source sending as many messages of the same size over one session as
the ceiling; then the time of a 100,000-record run into an outbox folder; then
what the journal (pinemail.journal, for /resume) costs: 10,000 records over
SMTP with and without it (PINEMAIL_BENCH_NO_JOURNAL, read for measuring
only), the median of 3 runs each, taken in turn; then cards: 10,000 records
each carrying the same 300 KB JPEG as an attachment, against smtp-source
with messages of the same size (msg/s, MB/s, peak RSS; the median of 3).
Prints a table and checks the goals: at least 0.9 of smtp-source's rate,
peak RSS at most 16 MB (plus the card's encoded size with cards) and the
same at 1k and 100k records, the outbox run under 10 s, the journal at most
10 % slower. Exit status 1 when a goal is missed.

Usage: bench_e2e.py --exe PATH --work FOLDER [--sizes 1000,10000,100000]
                    [--journal-records 10000] [--card-records 10000]
                    [--cases smtp,outbox,journal,card]
"""

import argparse
import os
import pathlib
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

SMTP_SINK = "/usr/sbin/smtp-sink"
SMTP_SOURCE = "/usr/sbin/smtp-source"
TIME = "/usr/bin/time"

FAMILY = ["佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村", "小林", "加藤",
          "吉田", "山田", "佐々木", "山口", "松本", "井上", "木村", "林", "斎藤", "清水",
          "髙橋", "齋藤", "渡邊"]
GIVEN = ["太郎", "花子", "一郎", "美咲", "翔太", "陽菜", "大輔", "さくら", "健", "愛",
         "蓮", "結衣", "悠真", "葵", "湊", "凛"]
PREFECTURES = ["北海道", "青森県", "岩手県", "宮城県", "東京都", "神奈川県", "愛知県",
               "京都府", "大阪府", "兵庫県", "広島県", "福岡県", "沖縄県"]
GREETINGS = ["だべ", "やね", "ばい", "さー", "でんがな", "ずら"]

TEMPLATE = """謹賀新年　旧年中は大変お世話になりました

%NAME%様

新年あけましておめでとうございます。
%KEN%の皆様におかれましては、健やかに新春をお迎えのことと存じます。
旧年中は格別のご厚情を賜り、誠にありがとうございました。
本年も変わらぬお付き合いのほど、よろしくお願い申し上げます%GOBI%。

皆様のご健康とご多幸を心よりお祈り申し上げます。

令和九年　元旦
"""


def write_crlf(path, text):
    path.write_bytes(text.replace("\n", "\r\n").encode("utf-8"))


def make_list(path, count):
    """`count` records, the same for every run of the benchmark."""
    rng = random.Random(count)
    lines = ["pinemail.exe 年賀状リスト"]
    for n in range(1, count + 1):
        family, given = rng.choice(FAMILY), rng.choice(GIVEN)
        lines.append(f"user{n:06d}@example.jp,{family} {given},nenga.txt,"
                     f"{family}{given},{rng.choice(PREFECTURES)},{rng.choice(GREETINGS)}")
    write_crlf(path, "\n".join(lines) + "\n")


def program_folder(root, exe, mail_server):
    root.mkdir(parents=True, exist_ok=True)
    shutil.copy2(exe, root / "pinemail")
    write_crlf(root / "pinemail.ini",
               "[Config]\nUser Name=\nPassword=\nSubst Key Word=NAME,KEN,GOBI\n"
               f"NO_INSERT_TEXT=\nMail Server={mail_server}\nFrom=年賀 係 <nenga@example.jp>\n")
    write_crlf(root / "nenga.txt", TEMPLATE)
    log = root / "pinemail.log"
    if log.exists():
        log.unlink()
    return root


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_sink(port):
    command = [SMTP_SINK]
    if os.geteuid() == 0:
        command += ["-u", "nobody"]
    command += [f"127.0.0.1:{port}", "256"]
    sink = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return sink
        except OSError:
            time.sleep(0.01)
    sink.kill()
    raise RuntimeError("smtp-sink did not start")


def timed_run(command, cwd, env=None):
    """(seconds, peak RSS in KiB, exit status) of one run under /usr/bin/time -v."""
    start = time.monotonic()
    done = subprocess.run([TIME, "-v"] + command, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          env=dict(os.environ, LC_ALL="C.UTF-8", **(env or {})))
    seconds = time.monotonic() - start
    match = re.search(rb"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    status = re.search(rb"Exit status: (\d+)", done.stderr)
    return seconds, int(match.group(1)) if match else 0, int(status.group(1)) if status else -1


def count_sent(log_path):
    return log_path.read_bytes().count("メッセージ送信\r\n".encode("utf-8"))


def outbox_message_size(folder, count):
    """The average size of the `count` messages a run in `folder` (an
    outbox:out program folder) writes; the folder is removed after."""
    subprocess.run([str(folder / "pinemail"), "list.txt"], cwd=folder, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, LC_ALL="C.UTF-8"))
    sizes = [p.stat().st_size for p in (folder / "out").glob("*.eml")]
    shutil.rmtree(folder)
    if len(sizes) != count:
        raise RuntimeError(f"the outbox run wrote {len(sizes)} messages, not {count}")
    return sum(sizes) // len(sizes)


def message_size(work, exe):
    """The average size of pinemail's messages for this template and list."""
    folder = program_folder(work / "size", exe, "outbox:out")
    make_list(folder / "list.txt", 200)
    return outbox_message_size(folder, 200)


def journal_cost(work, exe, count, rounds=3):
    """(median seconds with the journal, without it, problems): `count`
    records over SMTP, each run in a folder without log or journal, the two
    kinds taken in turn so that both meet the same load of the machine."""
    port = free_port()
    sink = start_sink(port)
    seconds = {True: [], False: []}
    problems = []
    try:
        folder = program_folder(work / "journal", exe, f"smtp://127.0.0.1:{port}")
        make_list(folder / "list.txt", count)
        for _ in range(rounds):
            for journal in (True, False):
                for name in ("pinemail.log", "pinemail.journal"):
                    (folder / name).unlink(missing_ok=True)
                env = {} if journal else {"PINEMAIL_BENCH_NO_JOURNAL": "1"}
                took, _, status = timed_run([str(folder / "pinemail"), "list.txt"], folder, env)
                sent = count_sent(folder / "pinemail.log")
                kept = (folder / "pinemail.journal").exists()
                if status != 0 or sent != count or kept != journal:
                    problems.append(f"journal {'on' if journal else 'off'}: sent {sent} of "
                                    f"{count} (status {status}, journal kept: {kept})")
                seconds[journal].append(took)
        shutil.rmtree(folder)
    finally:
        sink.terminate()
        sink.wait()
    return statistics.median(seconds[True]), statistics.median(seconds[False]), problems


CARD_BYTES = 300 * 1024


def write_card(path):
    """A JPEG of CARD_BYTES: its start and end markers around random bytes
    (the same every time), which is what type sniffing looks at."""
    rng = random.Random(300)
    body = bytes(rng.getrandbits(8) for _ in range(CARD_BYTES - 22))
    path.write_bytes(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
                     + body + b"\xff\xd9")


def card_folder(root, exe, mail_server, count):
    """A program folder whose `count` records each attach card.jpg."""
    folder = program_folder(root, exe, mail_server)
    ini = (folder / "pinemail.ini").read_bytes().decode("utf-8")
    write_crlf(folder / "pinemail.ini", ini.replace("\r\n", "\n").replace(
        "GOBI\n", "GOBI,CARD\nAttach Key Word=CARD\n"))
    write_card(folder / "card.jpg")
    make_list(folder / "list.txt", count)
    listing = (folder / "list.txt").read_bytes().decode("utf-8").split("\r\n")
    write_crlf(folder / "list.txt", "\n".join(
        [listing[0]] + [line + ",card.jpg" for line in listing[1:] if line]) + "\n")
    return folder


def source_seconds(port, count, size):
    """How long smtp-source takes to send `count` messages of `size` bytes
    over one session."""
    start = time.monotonic()
    subprocess.run([SMTP_SOURCE, "-s", "1", "-d", "-m", str(count), "-l", str(size),
                    "-f", "nenga@example.jp", "-t", "user@example.jp",
                    f"127.0.0.1:{port}"], check=True)
    return time.monotonic() - start


def card_case(work, exe, count, rounds=3):
    """(pinemail msg/s, smtp-source msg/s, message size, peak RSS MiB,
    problems) for `count` records with a card each, medians of `rounds`."""
    size = outbox_message_size(card_folder(work / "card-size", exe, "outbox:out", 20), 20)
    port = free_port()
    sink = start_sink(port)
    rates, source_rates, peaks, problems = [], [], [], []
    try:
        folder = card_folder(work / "card", exe, f"smtp://127.0.0.1:{port}", count)
        for _ in range(rounds):
            (folder / "pinemail.log").unlink(missing_ok=True)
            seconds, rss, status = timed_run([str(folder / "pinemail"), "list.txt"], folder)
            sent = count_sent(folder / "pinemail.log")
            if status != 0 or sent != count:
                problems.append(f"cards: pinemail sent {sent} of {count} (status {status})")
            rates.append(count / seconds)
            peaks.append(rss / 1024)
            source_rates.append(count / source_seconds(port, count, size))
        shutil.rmtree(folder)
    finally:
        sink.terminate()
        sink.wait()
    return (statistics.median(rates), statistics.median(source_rates), size,
            statistics.median(peaks), problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sizes", default="1000,10000,100000")
    parser.add_argument("--journal-records", type=int, default=10000)
    parser.add_argument("--card-records", type=int, default=10000)
    parser.add_argument("--cases", default="smtp,outbox,journal,card")
    options = parser.parse_args()
    cases = set(options.cases.split(","))
    exe = pathlib.Path(options.exe).resolve()
    work = pathlib.Path(options.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    sizes = [int(s) for s in options.sizes.split(",") if s]

    rows = []
    missed = []
    if "smtp" in cases:
        size = message_size(work, exe)
        print(f"message size: {size} bytes (headers and base64 body)")
    for count in sizes if "smtp" in cases else []:
        port = free_port()
        sink = start_sink(port)
        try:
            folder = program_folder(work / f"smtp-{count}", exe, f"smtp://127.0.0.1:{port}")
            make_list(folder / "list.txt", count)
            seconds, rss, status = timed_run([str(folder / "pinemail"), "list.txt"], folder)
            sent = count_sent(folder / "pinemail.log")
            if status != 0 or sent != count:
                missed.append(f"{count}: pinemail sent {sent} of {count} (status {status})")
            source_rate = count / source_seconds(port, count, size)
        finally:
            sink.terminate()
            sink.wait()
        rate = count / seconds
        rows.append((count, rate, source_rate, rate / source_rate, rss / 1024))
        shutil.rmtree(folder)

    if "outbox" in cases:
        folder = program_folder(work / "outbox", exe, "outbox:out")
        outbox_count = max(sizes)
        make_list(folder / "list.txt", outbox_count)
        outbox_seconds, outbox_rss, status = timed_run([str(folder / "pinemail"), "list.txt"],
                                                       folder)
        written = sum(1 for _ in (folder / "out").glob("*.eml"))
        if status != 0 or written != outbox_count:
            missed.append(f"outbox: {written} of {outbox_count} files (status {status})")
        shutil.rmtree(folder)

    if "journal" in cases:
        with_journal, without_journal, problems = journal_cost(work, exe, options.journal_records)
        missed += problems
        journal_ratio = with_journal / without_journal

    if "card" in cases:
        card_rate, card_source_rate, card_size, card_rss, problems = card_case(
            work, exe, options.card_records)
        missed += problems
        card_ratio = card_rate / card_source_rate
        # The goal allows the card's base64 (with its line ends) on top.
        card_rss_goal = 16 + CARD_BYTES * 4 / 3 * 78 / 76 / 1024 / 1024

    print()
    if rows:
        print(f"{'records':>9} {'pinemail msg/s':>15} {'smtp-source msg/s':>18} {'ratio':>6} "
              f"{'peak RSS MiB':>13}")
    for count, rate, source_rate, ratio, rss in rows:
        print(f"{count:>9} {rate:>15.0f} {source_rate:>18.0f} {ratio:>6.2f} {rss:>13.1f}")
    if "outbox" in cases:
        print(f"outbox, {outbox_count} records: {outbox_seconds:.2f} s "
              f"({outbox_count / outbox_seconds:.0f} msg/s), peak RSS {outbox_rss / 1024:.1f} MiB")
    if "journal" in cases:
        print(f"journal, {options.journal_records} records over SMTP, median of 3: "
              f"with {with_journal:.2f} s, without {without_journal:.2f} s "
              f"({(journal_ratio - 1) * 100:+.1f} %)")
    if "card" in cases:
        megabytes = card_size / 1e6
        print(f"cards, {options.card_records} records of {card_size} bytes, median of 3: "
              f"pinemail {card_rate:.0f} msg/s ({card_rate * megabytes:.1f} MB/s), "
              f"smtp-source {card_source_rate:.0f} msg/s "
              f"({card_source_rate * megabytes:.1f} MB/s), ratio {card_ratio:.2f}, "
              f"peak RSS {card_rss:.1f} MiB")

    for count, _, _, ratio, rss in rows:
        if ratio < 0.9:
            missed.append(f"{count}: {ratio:.2f} of smtp-source's rate (goal 0.9)")
        if rss > 16:
            missed.append(f"{count}: peak RSS {rss:.1f} MiB (goal 16)")
    if len(rows) > 1 and rows[-1][4] > rows[0][4] * 1.1 + 0.5:
        missed.append(f"peak RSS grows with the list: {rows[0][4]:.1f} -> {rows[-1][4]:.1f} MiB")
    if "outbox" in cases and outbox_seconds >= 10:
        missed.append(f"outbox run {outbox_seconds:.1f} s (goal under 10)")
    if "journal" in cases and journal_ratio > 1.10:
        missed.append(f"the journal costs {(journal_ratio - 1) * 100:.1f} % (goal at most 10 %)")
    if "card" in cases and card_ratio < 0.9:
        missed.append(f"cards: {card_ratio:.2f} of smtp-source's rate (goal 0.9)")
    if "card" in cases and card_rss > card_rss_goal:
        missed.append(f"cards: peak RSS {card_rss:.1f} MiB (goal {card_rss_goal:.1f})")
    print()
    if missed:
        print("goals missed:\n  " + "\n  ".join(missed))
        return 1
    print("all goals met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
