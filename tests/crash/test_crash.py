"""Kills a running pinemail with SIGKILL in the middle of a long SMTP run,
checks that the run log still tells the truth, and resumes the run.

A 2,000-record list is sent to the recording SMTP server on loopback; once a
few messages have arrived the program is killed at a moment drawn from a
seeded generator. Afterwards:
- every line of the log ends in CR LF and no line is torn;
- every record block in the log is complete, and the records appear in list
  order with no gap;
- every record logged as sent reached the server, and every message the
  server accepted has its sent block, except those in flight: the records
  right after the last logged one, at most one (plain and PIPELINING) or
  the window of 8 (CHUNKING, whole messages handed over before their
  replies are read);
- after the folder moved, the journal re-saved with CR LF and a byte-order
  mark or its start line damaged, `list.txt /resume` appends a block of its
  own after the cut-off one, in which the records the killed run got out are "sent before" and the
  others sent; then every record has reached the server at least once, at
  most as many twice as were in flight at the kill (one, or the window),
  each with the same Message-ID both times.

The rounds take the server's kinds in turn: plain, PIPELINING, CHUNKING.

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
SENT_BEFORE = "前回の実行で送信済みです。"


def address(n):
    return f"r{n:04d}@example.jp"


def write_program_folder(folder, port, list_too=True):
    folder.write_text("pinemail.ini", "[Config]\nUser Name=\nPassword=\n"
                      f"Subst Key Word=NAME\nNO_INSERT_TEXT=\nMail Server=smtp://127.0.0.1:{port}\n"
                      f"From={SENDER}\n")
    if not list_too:
        return
    folder.write_text("t.txt", TEMPLATE)
    lines = ["pinemail.exe 用リスト"]
    lines += [f"{address(n)},受取人 {n},t.txt,受取人{n}" for n in range(1, RECORDS + 1)]
    folder.write_text("list.txt", "\n".join(lines) + "\n")


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
    """The addresses of one run's record blocks in order, each with how it
    ended: "sent", "before" (sent by the run resumed) or "failed"."""
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
            records.append((record, "sent"))
            i += 7
        elif block[3:7] == [SUBJECT_LABEL + SUBJECT, SENT_BEFORE, DASHES, ""]:
            records.append((record, "before"))
            i += 7
        elif len(block) >= 6 and block[3].startswith(SUBJECT_LABEL) and block[5] == EQUALS:
            records.append((record, "failed"))
            i += 7
        else:
            raise Failure(f"an incomplete or unknown record block at line {i}: {block!r}")
    return records


# What the server offers in each kind of round, and how many messages the
# server may have taken whole without the run having logged them.
KINDS = {"plain": ([], 1), "pipelining": (["--pipelining"], 1),
         "chunking": (["--pipelining", "--chunking"], 8)}

# What changes between the kill and /resume in each kind of round.
CHANGES = {"plain": harness.ProgramFolder.move,
           "pipelining": lambda f: f.edit("pinemail.journal",
                                          lambda j: b"\xef\xbb\xbf" + j.replace(b"\n", b"\r\n")),
           "chunking": lambda f: f.edit("pinemail.journal",
                                        lambda j: j.replace(b"\tstart\t", b"\tst?rt\t"))}


def one_round(exe, rng, kind):
    options, window = KINDS[kind]
    server = SmtpServer(*options)
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
        sent = [record for record, status in records if status == "sent"]
        check(len(sent) == len(records), "no send failed")
        check(received[:len(sent)] == sent, "every record logged as sent reached the server")
        in_flight = received[len(sent):]
        check(len(in_flight) <= window, f"messages without a log block: {in_flight}")
        check(in_flight == [address(n) for n in range(len(sent) + 1, len(received) + 1)],
              "the unlogged messages are the records after the last logged one")

        # The resumed run starts its block on a line of its own and sends
        # only what the killed one did not get out. It sends to a fresh
        # server (whose record starts empty, so the resumed run is quick).
        first_messages = server.messages()
        server.stop()
        server = SmtpServer(*options)
        write_program_folder(folder, server.port, list_too=False)
        CHANGES[kind](folder)
        check(runner.run(folder, ["list.txt", "/resume"]).status == 0,
              "the resumed run succeeds")
        runs = parse_log(folder.read_bytes("pinemail.log"))
        check(len(runs) == 2, "the resumed run appends one block")
        resumed = parse_run(runs[1])
        everyone = [address(n) for n in range(1, RECORDS + 1)]
        check([record for record, _ in resumed] == everyone,
              "the resumed run logs every record in list order")
        before = {record for record, status in resumed if status == "before"}
        check(set(sent) <= before, "every record logged as sent is sent before")
        check(before <= set(received), "every record sent before reached the server")
        check({record for record, status in resumed if status == "sent"} == set(everyone) - before,
              "the resumed run sends every other record")
        ids = {}
        for envelope, message in first_messages + server.messages():
            ids.setdefault(envelope["rcpt_tos"][0], []).append(message["Message-ID"])
        check(set(ids) == set(everyone), "every record reached the server")
        twice = {record: found for record, found in ids.items() if len(found) > 1}
        check(len(twice) <= window and all(len(found) == 2 for found in twice.values()),
              f"at most {window} records reached the server twice: {sorted(twice)}")
        for record, found in twice.items():
            check(record in in_flight and record not in before and found[0] == found[1],
                  f"a message in flight went again with its Message-ID: {found}")
        return kill_after, len(sent), len(in_flight), len(twice)
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
            kind = list(KINDS)[(round_number - 1) % len(KINDS)]
            kill_after, logged, in_flight, twice = one_round(options.exe, rng, kind)
        except Failure as failure:
            print(f"round {round_number} (seed {options.seed}): FAILED: {failure}")
            return 1
        print(f"round {round_number} ({kind}): "
              f"killed after {kill_after} arrivals; "
              f"{logged} sent blocks, {in_flight} in flight, {twice} sent twice after /resume")
    return 0


if __name__ == "__main__":
    sys.exit(main())
