"""Kills a running pinemail with SIGKILL in the middle of a long SMTP run and
checks that the run log still tells the truth.

A 2,000-record list is sent to the recording SMTP server on loopback; once a
few messages have arrived the program is killed at a moment drawn from a
seeded generator. Afterwards:
- every line of the log ends in CR LF and no line is torn;
- every record block in the log is complete, and the records appear in list
  order with no gap;
- every record logged as sent reached the server, and every message the
  server accepted has its sent block, except at most the one in flight (the
  record right after the last logged one);
- a later run appends a complete block of its own after the cut-off one.

Usage: test_crash.py --exe PATH [--seed N] [--rounds N]
"""

import argparse
import os
import pathlib
import random
import signal
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "blackbox"))
sys.path.insert(0, str(HERE.parent / "smtp"))

import harness  # noqa: E402
from harness import DASHES, EQUALS, STARS  # noqa: E402
from test_smtp import SmtpServer  # noqa: E402

RECORDS = 2000
SENDER = "山田 太郎 <taro@example.jp>"
TEMPLATE = "謹賀新年\n\n%NAME%様\n本年もよろしくお願いいたします。\n"
SUBJECT = "謹賀新年"
ADDRESS_LABEL = "送信先アドレス: "
NAME_LABEL = "表示送信者名　: "
TEMPLATE_LABEL = "テンプレート　: "
SUBJECT_LABEL = "件名　　　　　: "
SENT = "メッセージ送信"


def address(n):
    return f"r{n:04d}@example.jp"


def write_program_folder(folder, port):
    folder.write_text("pinemail.ini", "[Config]\nUser Name=\nPassword=\n"
                      f"Subst Key Word=NAME\nNO_INSERT_TEXT=\nMail Server=smtp://127.0.0.1:{port}\n"
                      f"From={SENDER}\n")
    folder.write_text("t.txt", TEMPLATE)
    lines = ["pinemail.exe 用リスト"]
    lines += [f"{address(n)},受取人 {n},t.txt,受取人{n}" for n in range(1, RECORDS + 1)]
    folder.write_text("list.txt", "\n".join(lines) + "\n")
    folder.write_text("again.txt", f"pinemail.exe\n{address(9999)},再送,t.txt,再送\n")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def parse_log(data):
    """The log's lines (CR LF checked) split into run blocks."""
    check(data.endswith(b"\r\n"), "the log ends in CR LF (no torn last line)")
    text = data.decode("utf-8")
    lines = text.split("\r\n")[:-1]
    for line in lines:
        check("\r" not in line and "\n" not in line, f"a bare CR or LF inside a line: {line!r}")
    runs, current = [], None
    for line in lines:
        if line == STARS:
            current = []
            runs.append(current)
        else:
            check(current is not None, f"a line before the first run header: {line!r}")
            current.append(line)
    return runs


def parse_run(lines):
    """(records, finished): the addresses of one run's record blocks in order,
    each with whether it was logged as sent."""
    check(lines[0] == "" and lines[2] == "", "the run header's empty lines")
    check(lines[3].startswith("User Name: ") and lines[4].startswith("Password : ")
          and lines[5] == "", "the credential lines")
    records = []
    i = 6
    while i < len(lines):
        block = lines[i:i + 7]
        check(len(block) >= 3 and block[0].startswith(ADDRESS_LABEL)
              and block[1].startswith(NAME_LABEL) and block[2].startswith(TEMPLATE_LABEL),
              f"a record block starts with its three lines at line {i}: {block!r}")
        record = block[0][len(ADDRESS_LABEL):]
        if block[3:7] == [SUBJECT_LABEL + SUBJECT, SENT, DASHES, ""]:
            records.append((record, True))
            i += 7
        elif len(block) >= 6 and block[3].startswith(SUBJECT_LABEL) and block[5] == EQUALS:
            records.append((record, False))
            i += 7
        else:
            raise Failure(f"an incomplete or unknown record block at line {i}: {block!r}")
    return records


def one_round(exe, rng, pipelining):
    server = SmtpServer(*(["--pipelining"] if pipelining else []))
    folder = harness.ProgramFolder(exe)
    runner = harness.NativeRunner()
    try:
        write_program_folder(folder, server.port)
        # The kill lands once this many messages have arrived, plus a short
        # random delay so that it can hit any point of a message's sending.
        kill_after = rng.randint(5, RECORDS * 3 // 4)
        extra_delay = rng.uniform(0, 0.005)
        process = subprocess.Popen(runner.command(folder, ["list.txt"]), cwd=folder.path,
                                   env=runner.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            if server.state()["messages"] >= kill_after:
                break
            time.sleep(0.001)
        time.sleep(extra_delay)
        process.send_signal(signal.SIGKILL)
        process.wait()
        check(process.returncode == -signal.SIGKILL,
              f"the run was still going when killed (status {process.returncode})")
        # The server may still be finishing a message the client sent whole.
        time.sleep(0.2)
        received = [envelope["rcpt_tos"][0] for envelope, _ in server.messages()]

        runs = parse_log(folder.read_bytes("pinemail.log"))
        check(len(runs) == 1, "one run block")
        records = parse_run(runs[0])
        logged = [record for record, _ in records]
        check(logged == [address(n) for n in range(1, len(logged) + 1)],
              "records are logged in list order without a gap")
        sent = [record for record, was_sent in records if was_sent]
        check(len(sent) == len(records), "no send failed")
        check(received[:len(sent)] == sent, "every record logged as sent reached the server")
        in_flight = received[len(sent):]
        check(len(in_flight) <= 1, f"messages without a log block: {in_flight}")
        if in_flight:
            check(in_flight[0] == address(len(sent) + 1),
                  "the unlogged message is the record after the last logged one")

        # A later run starts its block on a line of its own.
        check(runner.run(folder, ["again.txt"]).status == 0, "the run after the crash succeeds")
        runs = parse_log(folder.read_bytes("pinemail.log"))
        check(len(runs) == 2 and parse_run(runs[1]) == [(address(9999), True)],
              "the run after the crash appends one complete block")
        return kill_after, len(sent), len(in_flight)
    finally:
        if 'process' in locals() and process.poll() is None:
            process.kill()
            process.wait()
        server.stop()
        folder.cleanup()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--seed", type=int, default=int(os.environ.get("PINEMAIL_CRASH_SEED", "2027")))
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    for round_number in range(1, options.rounds + 1):
        try:
            # Every other round the server offers PIPELINING.
            pipelining = round_number % 2 == 0
            kill_after, logged, in_flight = one_round(options.exe, rng, pipelining)
        except Failure as failure:
            print(f"round {round_number} (seed {options.seed}): FAILED: {failure}")
            return 1
        print(f"round {round_number}{' (pipelining)' if pipelining else ''}: "
              f"killed after {kill_after} arrivals; "
              f"{logged} sent blocks, {in_flight} in flight")
    return 0


if __name__ == "__main__":
    sys.exit(main())
