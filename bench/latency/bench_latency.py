"""pinemail over a distance: messages through a delaying proxy on loopback.

Starts the tests' recording SMTP server (tests/smtp/smtp_server.py) and
bench/latency/delay_proxy.py in front of it, then sends --count Japanese
messages (the end-to-end benchmark's list and template) through the proxy:
pinemail against the server offering PIPELINING, offering CHUNKING (with
PIPELINING), and offering neither; and, as the reference, Python's smtplib
sending the same messages (pinemail's own, written once to an outbox) over
one connection, one after the other, with TCP_NODELAY. Each run is timed
from start to end (connection and sign-on included), three runs each, taken
in turn; the medians are reported as milliseconds and round trips per
message.

Goals: at most 1.2 round trips per message with PIPELINING, at most 0.3 with
CHUNKING, and with neither no more than smtplib. Exit status 1 when one is
missed or a run did not deliver every message.

Usage: bench_latency.py --exe PATH --work FOLDER [--rtt-ms 20] [--count 100]
                        [--rounds 3] [--modes pipelining,chunking,plain,smtplib]
                        [--trace]
"""

import argparse
import json
import pathlib
import shutil
import smtplib
import socket
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE.parent / "e2e"))

from bench_e2e import count_sent, make_list, program_folder  # noqa: E402

SERVER = ROOT / "tests" / "smtp" / "smtp_server.py"
PROXY = HERE / "delay_proxy.py"
SENDER = "nenga@example.jp"

# What each kind of run asks of the server.
SERVER_OPTIONS = {
    "pipelining": ["--pipelining"],
    "chunking": ["--pipelining", "--chunking"],
    "plain": [],
    "smtplib": [],
}


class Child:
    """A helper script in a child process: its first output line is its port;
    closing its input stops it."""

    def __init__(self, *args):
        self.process = subprocess.Popen([sys.executable, *map(str, args)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.port = int(self.process.stdout.readline())

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


def outbox_messages(work, exe, count):
    """pinemail's own messages for the list, as (recipient, bytes)."""
    folder = program_folder(work / "outbox", exe, "outbox:out")
    make_list(folder / "list.txt", count)
    subprocess.run([str(folder / "pinemail"), "list.txt"], cwd=folder, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    files = sorted((folder / "out").glob("*.eml"))
    if len(files) != count:
        raise RuntimeError(f"the outbox run wrote {len(files)} messages, not {count}")
    return [(f"user{n:06d}@example.jp", f.read_bytes()) for n, f in enumerate(files, 1)]


def run_pinemail(folder, exe, port, count):
    """Seconds, and a problem or None."""
    (folder / "pinemail.journal").unlink(missing_ok=True)
    program_folder(folder, exe, f"smtp://127.0.0.1:{port}")
    start = time.monotonic()
    done = subprocess.run([str(folder / "pinemail"), "list.txt"], cwd=folder,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    sent = count_sent(folder / "pinemail.log")
    if done.returncode != 0 or sent != count:
        return seconds, f"pinemail sent {sent} of {count} (status {done.returncode})"
    return seconds, None


def run_smtplib(port, messages):
    start = time.monotonic()
    with smtplib.SMTP("127.0.0.1", port) as client:
        client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        client.ehlo()
        for recipient, data in messages:
            client.sendmail(SENDER, [recipient], data)
    return time.monotonic() - start, None


def one_run(mode, work, exe, options, messages, round_number):
    store = work / f"store-{mode}-{round_number}"
    server = Child(SERVER, "--store", store, "--lean", *SERVER_OPTIONS[mode])
    trace = ["--trace", work / f"trace-{mode}-{round_number}.txt"] if options.trace else []
    proxy = Child(PROXY, "--to", f"127.0.0.1:{server.port}", "--rtt-ms", options.rtt_ms,
                  "--lifetime", 600, *trace)
    try:
        if mode == "smtplib":
            seconds, problem = run_smtplib(proxy.port, messages)
        else:
            seconds, problem = run_pinemail(work / "program", exe, proxy.port, options.count)
    finally:
        proxy.stop()
        server.stop()
    accepted = json.loads((store / "state.json").read_text())["messages"]
    if problem is None and accepted != options.count:
        problem = f"the server accepted {accepted} of {options.count}"
    shutil.rmtree(store, ignore_errors=True)
    return seconds, problem


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--rtt-ms", type=float, default=20.0)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--modes", default="pipelining,chunking,plain,smtplib")
    parser.add_argument("--trace", action="store_true",
                        help="keep the proxy's trace of every run in the work folder")
    options = parser.parse_args()
    exe = pathlib.Path(options.exe).resolve()
    work = pathlib.Path(options.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    modes = options.modes.split(",")

    messages = outbox_messages(work, exe, options.count)
    folder = program_folder(work / "program", exe, "outbox:unused")
    make_list(folder / "list.txt", options.count)

    seconds = {mode: [] for mode in modes}
    problems = []
    for round_number in range(options.rounds):
        for mode in modes:
            took, problem = one_run(mode, work, exe, options, messages, round_number)
            seconds[mode].append(took)
            if problem:
                problems.append(f"{mode}: {problem}")

    print(f"{options.count} messages, round trip {options.rtt_ms:g} ms, "
          f"median of {options.rounds}")
    print(f"{'run':>12} {'ms/message':>11} {'round trips/message':>20}")
    trips = {}
    for mode in modes:
        per_message = statistics.median(seconds[mode]) * 1000 / options.count
        trips[mode] = per_message / options.rtt_ms
        print(f"{mode:>12} {per_message:>11.1f} {trips[mode]:>20.2f}")

    goals = {"pipelining": 1.2, "chunking": 0.3}
    if "smtplib" in trips:
        goals["plain"] = trips["smtplib"]
    missed = list(problems)
    for mode, goal in goals.items():
        if mode in trips and trips[mode] > goal:
            missed.append(f"{mode}: {trips[mode]:.2f} round trips per message (goal {goal:.2f})")
    print()
    if missed:
        print("goals missed:\n  " + "\n  ".join(missed))
        return 1
    print("all goals met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
