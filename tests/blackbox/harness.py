"""Runs the built pinemail executable in scratch program folders.

A ProgramFolder is a fresh folder holding a copy of the executable beside its
settings, list and templates. A Runner starts the program from another
current folder and returns its exit status and output. NativeRunner runs the
program directly; WineRunner runs a Windows build through cmake/wine-run, with
Windows paths (Z:\\...) and the text files in code page 932.
"""

import fcntl
import os
import pathlib
import pty
import re
import shutil
import struct
import subprocess
import tempfile
import termios
import unicodedata
from dataclasses import dataclass
from email import message_from_bytes, policy

REPO = pathlib.Path(__file__).resolve().parents[2]

STARS = "*" * 57
EQUALS = "=" * 57
DASHES = "-" * 57
DATE_MASK = "yyyy/mm/dd hh:mm:ss"
BANNER = ("このメールは、pinemail 工房　にて公開された\r\n"
          "年賀メール一括送信　　を使用して送付されました。\r\n"
          "    URL   https://pinemail.example.org/\r\n\r\n\r\n")

_DATE_LINE = re.compile(r"(?m)^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}(?=\r$)")


def mask_dates(text):
    """Replaces every run-header date line by DATE_MASK."""
    return _DATE_LINE.sub(DATE_MASK, text)


def crlf(text):
    """Turns LF line ends into CR LF."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def log_block(*lines):
    """One run block: the header (date masked) and `lines`, CR LF each."""
    return "".join(line + "\r\n" for line in (STARS, "", DATE_MASK, "") + lines)


def record_lines(address, name, template):
    return ("送信先アドレス: " + address, "表示送信者名　: " + name,
            "テンプレート　: " + template)


def sent_lines(subject):
    return ("件名　　　　　: " + subject, "メッセージ送信", DASHES, "")


REJECTED_LINES = ("送信に十分なデータが取得できませんでした。", EQUALS, "")


def columns_of(text):
    """Terminal columns of a text: East Asian wide and full-width take two."""
    return sum(0 if unicodedata.combining(c) else
               2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


class Screen:
    """What a terminal `columns` wide shows of what a program wrote to it:
    `lines` ended by LF, `states` every state the cursor's line was left in
    by an erase or an LF (each redraw), and what a real terminal would have
    broken: `wrapped` when text ran past the last column, `escapes` for every
    escape sequence but "erase to the end of the line"."""

    def __init__(self, data, columns):
        self.lines, self.states, self.escapes = [], [], []
        self.wrapped = False
        cells, column = [], 0
        text = data.decode("utf-8")
        i = 0
        while i < len(text):
            c = text[i]
            if text.startswith("\x1b[K", i):
                del cells[column:]
                self.states.append("".join(cells))
                i += 3
                continue
            if c == "\x1b":
                self.escapes.append(text[i:i + 4])
            elif c == "\r":
                column = 0
            elif c == "\n":
                self.states.append("".join(cells))
                self.lines.append("".join(cells))
                cells, column = [], 0
            else:
                width = columns_of(c)
                if column + width > columns:
                    self.wrapped = True
                cells[column:column + width] = [c] + [""] * (width - 1)
                column += width
            i += 1
        if cells:
            self.lines.append("".join(cells))


def run_on_terminal(command, env, cwd=None, columns=80, timeout=120, watch=None):
    """Runs `command` with its standard streams on a new terminal `columns`
    wide; returns its exit status and every byte it wrote there (the
    terminal adds no CR before LF). Read as it comes, so that a full terminal
    never blocks the program; `watch`, if given, sees what was written so
    far after each read."""
    main, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    attributes = termios.tcgetattr(secondary)
    attributes[1] &= ~termios.ONLCR
    termios.tcsetattr(secondary, termios.TCSANOW, attributes)
    try:
        process = subprocess.Popen(command, cwd=cwd, env=env, stdin=secondary, stdout=secondary,
                                   stderr=secondary, start_new_session=True)
    finally:
        os.close(secondary)
    shown = b""
    while True:
        try:
            chunk = os.read(main, 4096)
        except OSError:  # the terminal's other end is closed
            break
        if not chunk:
            break
        shown += chunk
        if watch:
            watch(shown)
    os.close(main)
    return process.wait(timeout=timeout), shown


@dataclass
class Result:
    status: int
    stdout: bytes
    stderr: bytes


class ProgramFolder:
    """A scratch program folder with the executable copied in."""

    def __init__(self, exe, encoding="utf-8"):
        self.path = pathlib.Path(tempfile.mkdtemp(prefix="pinemail-bb-"))
        self.exe = self.path / pathlib.Path(exe).name
        shutil.copy2(exe, self.exe)
        self.encoding = encoding

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return self.path / name

    def write_bytes(self, name, data):
        target = self.file(name)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)

    def write_text(self, name, text, encoding=None):
        """Writes `text` with CR LF line ends in the folder's encoding."""
        self.write_bytes(name, crlf(text).encode(encoding or self.encoding))

    def read_bytes(self, name):
        return self.file(name).read_bytes()

    def edit(self, name, change):
        """Replaces a file's bytes by change(bytes)."""
        self.write_bytes(name, change(self.read_bytes(name)))

    def move(self):
        """Renames the folder, as a user moving it elsewhere would."""
        self.path = self.path.rename(self.path.with_name(self.path.name + "-moved"))
        self.exe = self.path / self.exe.name

    def exists(self, name):
        return self.file(name).exists()

    def log(self, encoding=None):
        """The run log decoded, with its date lines masked."""
        return mask_dates(self.read_bytes("pinemail.log").decode(encoding or self.encoding))

    def messages(self, folder="outbox"):
        """The messages of an outbox folder, in sending order."""
        return [message_from_bytes(p.read_bytes(), policy=policy.default)
                for p in sorted(self.file(folder).glob("*.eml"))]


class NativeRunner:
    """Runs the program directly, from a current folder of its own."""

    log_encoding = "utf-8"
    exe_name = "pinemail"
    # sendmail, the default here, needs a sender address to sign on.
    default_transport_needs_sender = True

    def __init__(self, env=None):
        self.env = dict(os.environ)
        # No window may open during a test, and the text files are UTF-8.
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.env["LC_ALL"] = "C.UTF-8"
        self.env.update(env or {})

    def path_of(self, path):
        """A path as the program expects it on its command line."""
        return str(path)

    def command(self, folder, args):
        return [str(folder.exe)] + list(args)

    def run(self, folder, args=(), env=None, cwd=None, timeout=120, preexec_fn=None):
        run_env = dict(self.env)
        run_env.update(env or {})
        with tempfile.TemporaryDirectory(prefix="pinemail-cwd-") as elsewhere:
            done = subprocess.run(self.command(folder, args), cwd=cwd or elsewhere,
                                  env=run_env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=timeout, preexec_fn=preexec_fn)
        return Result(done.returncode, done.stdout, done.stderr)

    def start(self, folder, args=(), env=None):
        """Starts the program without waiting; its output goes to pipes."""
        return subprocess.Popen(self.command(folder, args), cwd=str(folder.path),
                                env=dict(self.env, **(env or {})),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)


class WineRunner(NativeRunner):
    """Runs a Windows build under Wine in the project's prefix (code page 932)."""

    log_encoding = "cp932"
    exe_name = "pinemail.exe"
    # Simple MAPI sends from the mail client's default account.
    default_transport_needs_sender = False

    def __init__(self, env=None):
        super().__init__(env)
        self.env["LC_ALL"] = "ja_JP.UTF-8"

    def path_of(self, path):
        return "Z:" + str(path).replace("/", "\\")

    def command(self, folder, args):
        return [str(REPO / "cmake" / "wine-run"), str(folder.exe)] + list(args)
