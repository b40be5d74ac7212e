#!/usr/bin/python3
"""Runs pinemail.exe under Wine in scratch program folders, with a recording
MAPI32.DLL installed as the prefix's system DLL, and checks what reached the
mail client or the loopback SMTP server of the Linux SMTP tests, the run log
and the settings file byte for byte.

Usage: wine_blackbox_test.py PINEMAIL_EXE MAPI32_DLL MAPI32_ANSI_ONLY_DLL BUILD_DIR
       [unittest arguments]
(BUILD_DIR: the Windows build folder the release package is made from.)
"""

import base64
import fcntl
import os
import re
import socket
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zipfile
from email import message_from_bytes, policy
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "blackbox"))
import harness  # noqa: E402  (the scratch folders and the Wine runner)
from harness import BANNER, DASHES, DATE_MASK, EQUALS, STARS  # noqa: E402

sys.path.insert(0, str(ROOT / "tests" / "smtp"))
from test_smtp import (REFUSED, STAGE_REFUSALS, OAuthServer, SmtpServer,  # noqa: E402
                       journaled_ids, make_certificate, message_ids)  # (the Linux SMTP tests' own)

WINE_RUN = ROOT / "cmake" / "wine-run"
PREFIX = Path(os.environ.get("PINEMAIL_WINEPREFIX", ROOT / "build" / "wineprefix"))
SYSTEM_MAPI = PREFIX / "drive_c" / "windows" / "system32" / "mapi32.dll"
WINE_ORIGINAL = SYSTEM_MAPI.with_name("mapi32.dll.wine-original")

EXE = DOUBLE = DOUBLE_ANSI = BUILD = None  # set from the command line
# No DISPLAY (the harness drops it): a batch run must need no window.
RUNNER = harness.WineRunner(env={"WINEDLLOVERRIDES": "mapi32=n,b;winedbg.exe=d"})

TEMPLATE = "謹賀新年　%NAME%様\r\n\r\n%NAME% 様\r\n%KEN%の皆様によろしく。①髙\r\n"
LIST = ("pinemail.exe 用 年賀状リスト\r\n"
        "# 宛先,表示名,テンプレート,NAME,KEN\r\n"
        "tanaka@example.jp,田中 一郎,newyear.txt,田中,北海道\r\n"
        "\r\n"
        "  sato@example.jp,佐藤 花子,newyear.txt,佐藤,大阪  \r\n")
# LIST's records: address, name and the values of NAME and KEN.
RECORDS = [("tanaka@example.jp", "田中 一郎", "田中", "北海道"),
           ("sato@example.jp", "佐藤 花子", "佐藤", "大阪")]


def cp932(text):
    return text.encode("cp932")


windows_path = RUNNER.path_of


def install_double(dll):
    """Puts `dll` in place of the prefix's system MAPI32.DLL, keeping Wine's
    own file once so that the install can be repeated and undone."""
    if not WINE_ORIGINAL.exists() and SYSTEM_MAPI.exists():
        shutil.copy2(SYSTEM_MAPI, WINE_ORIGINAL)
    shutil.copyfile(dll, SYSTEM_MAPI)


def read_calls(folder):
    """The stand-in's record: one (call, fields) pair per call; texts decoded
    from hex to bytes, recipients collected in fields["recip"], files in
    fields["file"] as (flags, position, path, name, content or None)."""
    path = Path(folder) / "mapi_calls.txt"
    if not path.exists():
        return []
    calls = []
    for line in path.read_text("ascii").splitlines():
        name, *pairs = line.split("\t")
        fields = {"recip": [], "file": []}
        for pair in pairs:
            key, value = pair.split("=", 1)
            if key == "recip":
                kind, who, address, eid = value.split(",")
                fields["recip"].append((int(kind), bytes.fromhex(who), bytes.fromhex(address),
                                        int(eid)))
            elif key == "file":
                *numbers, path, shown, content = value.split(",")
                fields["file"].append((*map(int, numbers), bytes.fromhex(path),
                                       bytes.fromhex(shown), None if content == "-" else
                                       bytes.fromhex(content)))
            elif key in ("subject", "text", "profile", "password", "type"):
                fields[key] = None if value == "-" else bytes.fromhex(value)
            else:
                fields[key] = value
        calls.append((name, fields))
    return calls


class ProgramFolder(harness.ProgramFolder):
    """The harness's scratch program folder, with CP932 texts, and a second
    scratch folder (`root`) for lists and DLLs kept elsewhere."""

    def __init__(self):
        super().__init__(EXE, encoding="cp932")
        self.root = Path(tempfile.mkdtemp(prefix="pinemail-wine-"))

    def write(self, name, data):
        if isinstance(data, bytes):
            self.write_bytes(name, data)
        else:
            self.write_text(name, data)

    def read(self, name):
        return self.read_bytes(name)

    def run(self, *args, cwd=None):
        return RUNNER.run(self, args, cwd=cwd, timeout=60)

    def remove(self):
        self.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)


def settings(user="", password="", keywords="NAME,KEN", extra=""):
    return (f"[Config]\r\nUser Name={user}\r\nPassword={password}\r\n"
            f"Subst Key Word={keywords}\r\n{extra}")


def header():
    return f"{STARS}\r\n\r\n{DATE_MASK}\r\n\r\n"


def credentials(user, password):
    return f"User Name: {user}\r\nPassword : {'*' * len(password)}\r\n\r\n"


def record(address, name, template, tail):
    return (f"送信先アドレス: {address}\r\n表示送信者名　: {name}\r\n"
            f"テンプレート　: {template}\r\n{tail}")


def sent(subject):
    return f"件名　　　　　: {subject}\r\nメッセージ送信\r\n{DASHES}\r\n\r\n"


def failed(subject, reason):
    return f"件名　　　　　: {subject}\r\n送信に失敗しました。({reason})\r\n{EQUALS}\r\n\r\n"


REJECTED = f"送信に十分なデータが取得できませんでした。\r\n{EQUALS}\r\n\r\n"


def body(name, ken):
    return BANNER + f"{name} 様\r\n{ken}の皆様によろしく。①髙\r\n"


CARD = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 8
PINE = b"GIF89a" + bytes(reversed(range(256))) * 4
# U+301C and U+1F38D have no CP932 form: an ANSI path must name the card
# another way, and the name shown may not hold a "?".
CARD_NAME, PINE_NAME = "年賀〜\U0001f38d.png", "門松.gif"
# Tanaka's card goes, Sato's is missing, Ito has none; the HTML shows PINE.
RICH_LIST = ("\ufeffpinemail.exe 用\r\n"
             f"tanaka@example.jp,田中 一郎,newyear.txt,田中,北海道,{CARD_NAME}\r\n"
             "sato@example.jp,佐藤 花子,newyear.txt,佐藤,大阪,none.png\r\n"
             "ito@example.jp,伊藤 三郎,newyear.txt,伊藤,沖縄,\r\n")
REJECTED_SATO = (r"sato@example.jp\r\n.*\r\n.*\r\n"
                 r"送信に十分なデータが取得できませんでした。\(.*none\.png.*\)\r\n")


class WineTestCase(unittest.TestCase):
    double = None  # the stand-in the case needs; DOUBLE unless set

    def setUp(self):
        install_double(self.double or DOUBLE)
        self.folder = ProgramFolder()
        self.addCleanup(self.folder.remove)

    def standard_folder(self, user="taro", password="s3cret", extra=""):
        self.folder.write("pinemail.ini", settings(user, password, extra=extra))
        self.folder.write("newyear.txt", TEMPLATE)
        self.folder.write("list.txt", LIST)

    def rich_folder(self, extra=""):
        self.folder.write("pinemail.ini", settings("", "", "NAME,KEN,CARD",
                                                   "Attach Key Word=CARD\r\n" + extra))
        self.folder.write("newyear.txt", TEMPLATE)
        self.folder.write("newyear.html", f'<p>%NAME%様</p>\r\n<img src="{PINE_NAME}">\r\n')
        self.folder.write("list.txt", RICH_LIST.encode())
        self.folder.write(CARD_NAME, CARD)
        self.folder.write(PINE_NAME, PINE)

    def assertExit(self, result, status):
        if result.status != status:
            log = self.folder.path / "pinemail.log"
            text = log.read_bytes().decode("cp932", "replace") if log.exists() else "(no log)"
            self.fail(f"exit {result.status} != {status}: stdout={result.stdout!r} "
                      f"stderr={result.stderr[-2000:]!r}\nlog:\n{text[-3000:]}")


class MapiRunTest(WineTestCase):
    def test_every_record_goes_to_the_client_in_unicode(self):
        self.standard_folder(user="山田", password="s3cret")
        result = self.folder.run("list.txt")
        self.assertExit(result, 0)

        calls = read_calls(self.folder.path)
        self.assertEqual([name for name, _ in calls],
                         ["MAPILogon", "MAPISendMailW", "MAPISendMailW", "MAPILogoff"])
        logon = calls[0][1]
        self.assertEqual(logon["profile"], cp932("山田"))
        self.assertEqual(logon["password"], b"s3cret")
        self.assertEqual((logon["flags"], logon["ui"], logon["reserved"]), ("0", "0", "0"))
        session = str(0x5150)
        for (_, send), (address, name, short, ken) in zip(calls[1:3], RECORDS):
            self.assertEqual((send["session"], send["ui"], send["flags"]), (session, "0", "0"))
            self.assertEqual(send["recip"],
                             [(1, name.encode(), address.encode(), 0)])
            # The subject is never substituted.
            self.assertEqual(send["subject"], "謹賀新年　%NAME%様".encode())
            self.assertEqual(send["text"].decode(), body(short, ken))
            self.assertEqual((send["originator"], send["files"], send["type"]), ("-", "0", None))
        self.assertEqual(calls[3][1]["session"], session)

        self.assertEqual(self.folder.log(),
                         header() + credentials("山田", "s3cret")
                         + record("tanaka@example.jp", "田中 一郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様"))
                         + record("sato@example.jp", "佐藤 花子", "newyear.txt",
                                  sent("謹賀新年　%NAME%様")))
        self.assertEqual(result.stdout, b"")

    def test_files_and_html_images_go_as_files_and_the_text_as_body(self):
        # The ANSI call gets the card's name with the CP932 look-alike of
        # U+301C and "_" for U+1F38D, and a path the client can open.
        for double, call, name in ((DOUBLE, "MAPISendMailW", CARD_NAME),
                                   (DOUBLE_ANSI, "MAPISendMail", "年賀～_.png")):
            with self.subTest(call=call):
                install_double(double)
                self.folder.path.joinpath("mapi_calls.txt").unlink(missing_ok=True)
                self.rich_folder()
                self.assertExit(self.folder.run("list.txt"), 1)
                self.assertRegex(self.folder.log(), REJECTED_SATO)
                sends = [f for c, f in read_calls(self.folder.path) if c == call]
                text = (lambda b: b.decode("cp932")) if call == "MAPISendMail" else bytes.decode
                self.assertEqual([text(f["text"]) for f in sends],
                                 [body("田中", "北海道"), body("伊藤", "沖縄")])
                files = [[(flags, position, text(shown), content)
                          for flags, position, _, shown, content in f["file"]] for f in sends]
                pine = (0, 2**32 - 1, PINE_NAME, PINE)
                self.assertEqual(files, [[(0, 2**32 - 1, name, CARD), pine], [pine]])

    def test_two_runs_append_two_blocks_and_a_rejected_record_gives_status_1(self):
        self.standard_folder()
        self.folder.write("list.txt", LIST + "ito@example.jp,,newyear.txt,伊藤,沖縄\r\n"
                          "kato@example.jp,加藤,missing.txt,加藤,京都\r\n")
        self.assertExit(self.folder.run("list.txt"), 1)
        self.assertExit(self.folder.run("list.txt"), 1)
        block = (header() + credentials("taro", "s3cret")
                 + record("tanaka@example.jp", "田中 一郎", "newyear.txt", sent("謹賀新年　%NAME%様"))
                 + record("sato@example.jp", "佐藤 花子", "newyear.txt", sent("謹賀新年　%NAME%様"))
                 + record("ito@example.jp", "", "newyear.txt", REJECTED)
                 + record("kato@example.jp", "加藤", "missing.txt", REJECTED))
        self.assertEqual(self.folder.log(), block + block)
        sends = [f for name, f in read_calls(self.folder.path) if name.startswith("MAPISend")]
        self.assertEqual(len(sends), 4)

    def test_a_failed_send_is_logged_with_its_reason_and_the_run_goes_on(self):
        self.standard_folder()
        self.folder.write("list.txt", LIST + "ito@example.jp,伊藤 三郎,newyear.txt,伊藤,沖縄\r\n")
        self.folder.write("mapi_control.txt", b"fail_send=2\n")
        self.assertExit(self.folder.run("list.txt"), 1)
        self.assertEqual(self.folder.log(),
                         header() + credentials("taro", "s3cret")
                         + record("tanaka@example.jp", "田中 一郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様"))
                         + record("sato@example.jp", "佐藤 花子", "newyear.txt",
                                  failed("謹賀新年　%NAME%様", "MAPI_E_FAILURE (2)"))
                         + record("ito@example.jp", "伊藤 三郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様")))
        names = [name for name, _ in read_calls(self.folder.path)]
        self.assertEqual(names, ["MAPILogon"] + ["MAPISendMailW"] * 3 + ["MAPILogoff"])

    def test_a_reason_code_from_the_client_is_named(self):
        self.standard_folder()
        self.folder.write("mapi_control.txt", b"fail_send=1\nsend_code=14\n")
        self.assertExit(self.folder.run("list.txt"), 1)
        self.assertIn("送信に失敗しました。(MAPI_E_UNKNOWN_RECIPIENT (14))\r\n", self.folder.log())

    def test_a_failed_logon_sends_nothing_and_stops_the_run(self):
        self.standard_folder()
        self.folder.write("mapi_control.txt", b"fail_logon\n")
        self.assertExit(self.folder.run("list.txt"), 2)
        self.assertEqual(self.folder.log(),
                         header() + credentials("taro", "s3cret") + "ログインに失敗しました。\r\n")
        self.assertEqual([name for name, _ in read_calls(self.folder.path)], ["MAPILogon"])

    def test_empty_credentials_go_over_as_none_given(self):
        self.folder.write("newyear.txt", TEMPLATE)
        self.folder.write("list.txt", LIST)
        self.assertExit(self.folder.run("list.txt"), 0)
        logon = read_calls(self.folder.path)[0][1]
        self.assertEqual((logon["profile"], logon["password"]), (None, None))
        # The settings file the run created holds exactly the three empty keys.
        self.assertEqual(self.folder.read("pinemail.ini"),
                         b"[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n")
        # Without keywords nothing is substituted.
        send = read_calls(self.folder.path)[1][1]
        self.assertEqual(send["text"].decode(),
                         BANNER + "%NAME% 様\r\n%KEN%の皆様によろしく。①髙\r\n")

    def test_banner_switch_and_missing_keys(self):
        self.folder.write("pinemail.ini", "[Config]\r\nSubst Key Word= NAME , KEN \r\n"
                          "NO_INSERT_TEXT=TRUE\r\n")
        self.folder.write("newyear.txt", TEMPLATE)
        self.folder.write("list.txt", LIST)
        self.assertExit(self.folder.run("list.txt"), 0)
        send = read_calls(self.folder.path)[1][1]
        self.assertEqual(send["text"].decode(), "田中 様\r\n北海道の皆様によろしく。①髙\r\n")
        ini = self.folder.read("pinemail.ini").decode("cp932")
        self.assertIn("User Name=\r\n", ini)
        self.assertIn("Password=\r\n", ini)
        self.assertIn("NO_INSERT_TEXT=TRUE\r\n", ini)

    def test_list_path_with_japanese_characters(self):
        self.standard_folder()
        folder = self.folder.root / "年賀リスト"
        folder.mkdir()
        (folder / "宛先一覧.txt").write_bytes(cp932(LIST))
        self.assertExit(self.folder.run(windows_path(folder / "宛先一覧.txt")), 0)
        self.assertEqual(len(read_calls(self.folder.path)), 4)

    def test_a_quoted_list_path_is_taken_with_its_quotes(self):
        # A path with blanks arrives quoted (Wine quotes such an argument as
        # Explorer does for a drop); start-up keeps the quotes as part of the
        # path, finds no such file and shows the help: status 2, nothing sent.
        self.standard_folder()
        folder = self.folder.root / "年賀 リスト"
        folder.mkdir()
        (folder / "宛先 一覧.txt").write_bytes(cp932(LIST))
        self.assertExit(self.folder.run(windows_path(folder / "宛先 一覧.txt")), 2)
        self.assertEqual(read_calls(self.folder.path), [])
        self.assertFalse((self.folder.path / "pinemail.log").exists())

    def test_an_absolute_list_path_and_the_current_folder(self):
        self.standard_folder()
        elsewhere = self.folder.root / "elsewhere"
        elsewhere.mkdir()
        (elsewhere / "list.txt").write_bytes(cp932(LIST.replace("sato", "kimura")))
        # A relative name is looked up in the program's folder, not the
        # current folder.
        self.assertExit(self.folder.run("list.txt", cwd=elsewhere), 0)
        self.assertIn("sato@example.jp", self.folder.log())
        self.assertNotIn("kimura", self.folder.log())


class ResumeTest(WineTestCase):
    def run_from(self, drive, *args):
        """Runs the program, or as drive:\\pinemail.exe with drive mapped to its folder."""
        if drive is None:
            return self.folder.run(*args)
        link = PREFIX / "dosdevices" / drive
        link.symlink_to(self.folder.path)
        self.addCleanup(link.unlink)
        self.folder.exe = drive + "\\" + EXE.name
        return self.folder.run(*args)

    def test_a_resumed_run_hands_the_client_only_what_the_killed_run_did_not(self):
        # Also from a stick that was E: for the killed run and F: for /resume.
        for first, then in ((None, None), ("m:", "n:")):
            with self.subTest(drives=(first, then)):
                self.setUp()
                self.check_resume(lambda *a: self.run_from(first, *a),
                                  lambda *a: self.run_from(then, *a))

    def check_resume(self, run, resume):
        self.standard_folder()
        self.folder.write("list.txt", LIST + "ito@example.jp,伊藤 三郎,newyear.txt,伊藤,沖縄\r\n"
                          "kato@example.jp,加藤 四郎,newyear.txt,加藤,京都\r\n")
        # The process ends inside the third send: the client has the message,
        # the journal does not.
        self.folder.write("mapi_control.txt", b"die_send=3\n")
        self.assertExit(run("list.txt"), 9)
        first = [f["recip"][0][2] for name, f in read_calls(self.folder.path)
                 if name == "MAPISendMailW"]
        self.assertEqual(first, [b"tanaka@example.jp", b"sato@example.jp", b"ito@example.jp"])

        (self.folder.path / "mapi_calls.txt").unlink()
        self.folder.write("mapi_control.txt", b"")
        self.assertExit(resume("list.txt", "/resume"), 0)
        calls = read_calls(self.folder.path)
        self.assertEqual([name for name, _ in calls],
                         ["MAPILogon", "MAPISendMailW", "MAPISendMailW", "MAPILogoff"])
        self.assertEqual([f["recip"][0][2] for _, f in calls[1:3]],
                         [b"ito@example.jp", b"kato@example.jp"])
        before = f"件名　　　　　: 謹賀新年　%NAME%様\r\n前回の実行で送信済みです。\r\n{DASHES}\r\n\r\n"
        resumed = self.folder.log().split(STARS)[-1]
        self.assertEqual(resumed, "\r\n\r\n" + DATE_MASK + "\r\n\r\n"
                         + credentials("taro", "s3cret")
                         + record("tanaka@example.jp", "田中 一郎", "newyear.txt", before)
                         + record("sato@example.jp", "佐藤 花子", "newyear.txt", before)
                         + record("ito@example.jp", "伊藤 三郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様"))
                         + record("kato@example.jp", "加藤 四郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様")))


class AnsiClientTest(WineTestCase):
    double = None  # set to DOUBLE_ANSI at start

    def test_a_client_without_the_unicode_call_gets_cp932_texts(self):
        self.standard_folder()
        self.assertExit(self.folder.run("list.txt"), 0)
        calls = read_calls(self.folder.path)
        self.assertEqual([name for name, _ in calls],
                         ["MAPILogon", "MAPISendMail", "MAPISendMail", "MAPILogoff"])
        send = calls[1][1]
        self.assertEqual(send["recip"], [(1, cp932("田中 一郎"), b"tanaka@example.jp", 0)])
        self.assertEqual(send["subject"], cp932("謹賀新年　%NAME%様"))
        # Compared as text: Windows writes 髙 as FBFC, Python's codec as EEE0.
        self.assertEqual(send["text"].decode("cp932"), body("田中", "北海道"))
        self.assertTrue(send["text"].startswith(cp932(BANNER)))
        self.assertEqual(send["flags"], "0")

    def test_a_dll_beside_the_program_or_in_the_current_folder_is_not_loaded(self):
        # The system folder holds the ANSI-only stand-in; a Unicode one is
        # planted beside the program and in the current folder. Only the
        # system one may answer.
        self.standard_folder()
        shutil.copyfile(DOUBLE, self.folder.path / "mapi32.dll")
        shutil.copyfile(DOUBLE, self.folder.root / "mapi32.dll")
        self.assertExit(self.folder.run("list.txt", cwd=self.folder.root), 0)
        names = [name for name, _ in read_calls(self.folder.path)]
        self.assertEqual(names, ["MAPILogon", "MAPISendMail", "MAPISendMail", "MAPILogoff"])


class OtherTransportTest(WineTestCase):
    def test_outbox_writes_one_message_file_per_record_and_no_mapi_call(self):
        self.standard_folder(extra="Mail Server=outbox:outbox\r\nFrom=山田 太郎 <taro@example.jp>\r\n")
        self.assertExit(self.folder.run("list.txt"), 0)
        messages = sorted((self.folder.path / "outbox").glob("*.eml"))
        self.assertEqual(len(messages), 2)
        self.assertIn(b"tanaka@example.jp", messages[0].read_bytes())
        self.assertIn(b"sato@example.jp", messages[1].read_bytes())
        self.assertEqual(read_calls(self.folder.path), [])

    def test_mapi_named_explicitly_ignores_the_sender(self):
        # The client's default account sends; "From" has no say.
        self.standard_folder(extra="Mail Server= mapi \r\nFrom=山田 太郎 <taro@example.jp>\r\n")
        self.assertExit(self.folder.run("list.txt"), 0)
        sends = [f for name, f in read_calls(self.folder.path) if name == "MAPISendMailW"]
        self.assertEqual(len(sends), 2)
        self.assertEqual({send["originator"] for send in sends}, {"-"})
        self.assertFalse((self.folder.path / "outbox").exists())

    def test_an_unknown_mail_server_fails_the_sign_on(self):
        self.standard_folder(extra="Mail Server=carrier-pigeon\r\n")
        self.assertExit(self.folder.run("list.txt"), 2)
        self.assertTrue(self.folder.log().endswith(
            "ログインに失敗しました。(Mail Server の値が認識できません)\r\n"))
        self.assertEqual(read_calls(self.folder.path), [])


SENDER = "From=山田 太郎 <taro@example.jp>\r\n"


class ConsoleTest(WineTestCase):
    """A run started from a command prompt shows its progress on the
    prompt's console (Wine's console draws it on the terminal the test
    reads); a run started without a console shows nothing."""

    def on_terminal(self, *command):
        """The exit status and what the terminal received."""
        return harness.run_on_terminal([str(WINE_RUN), *command], RUNNER.env,
                                       cwd=self.folder.path, columns=100, timeout=60)

    def test_the_progress_line_shows_on_a_command_prompts_console_only(self):
        self.standard_folder(extra="Mail Server=outbox:outbox\r\n" + SENDER +
                             "Send Rate=60/min\r\n")
        status, shown = self.on_terminal("cmd", "/c", "start", "/wait", "pinemail.exe",
                                         "list.txt")
        self.assertEqual(0, status)
        text = shown.decode("utf-8")
        self.assertIn("0/2 件処理", text)
        self.assertIn("次の送信まで 1 秒", text)
        self.assertRegex(text, r"完了　2/2 件処理　送信 2　不備 0　送信失敗 0　経過 \d+ 秒　ログ: Z:")
        self.assertEqual((0, b""), self.on_terminal("pinemail.exe", "list.txt"))


def running_with(marker, settle=10):
    """The processes whose command line holds `marker`, once those ended
    have had `settle` seconds to go."""
    end = time.monotonic() + settle
    while True:
        found = []
        for path in Path("/proc").glob("[0-9]*/cmdline"):
            try:
                if marker in path.read_bytes():
                    found.append(path.parent.name)
            except OSError:
                pass
        if not found or time.monotonic() > end:
            return found
        time.sleep(0.1)


SIGN_ON_FAILED = r"ログインに失敗しました。\([^\r\n]+\)\r\n\Z"
# The run header's date line, in the log's own bytes.
DATE_LINE = re.compile(rb"(?m)^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}(?=\r$)")


def own_network_address():
    """This machine's address on its network, not a loopback one; None
    without a network."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.connect(("192.0.2.1", 9))  # picks the route; sends nothing
        except OSError:
            return None
        address = probe.getsockname()[0]
    return None if address.startswith("127.") else address


class SmtpTestCase(WineTestCase):
    """The recording server of the Linux SMTP tests and the tests' CA."""

    @classmethod
    def setUpClass(cls):
        cls.certificates = Path(tempfile.mkdtemp(prefix="pinemail-certs-"))
        # Schannel matches the host name against DNS names only.
        cls.certs = make_certificate(cls.certificates, "localhost", "DNS:localhost")
        cls.other_certs = make_certificate(cls.certificates, "mail.invalid", "DNS:mail.invalid")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certificates, ignore_errors=True)

    def server(self, *options):
        server = SmtpServer(*options)
        self.addCleanup(server.stop)
        return server

    def run_smtp(self, mail_server, user="", password="", ca_file=None):
        """A run of the standard list through `mail_server`, trusting the
        tests' CA (or `ca_file`) through PINEMAIL_CA_FILE."""
        self.standard_folder(user, password, extra=f"Mail Server={mail_server}\r\n{SENDER}")
        (self.folder.path / "pinemail.log").unlink(missing_ok=True)
        env = {"PINEMAIL_CA_FILE": windows_path(ca_file or self.certs[0])}
        return RUNNER.run(self.folder, ["list.txt"], env=env, timeout=120)

    def assertLog(self, text):
        """The log's bytes are `text` in CP932, the date line masked."""
        log = DATE_LINE.sub(DATE_MASK.encode(), self.folder.read("pinemail.log"))
        self.assertEqual(log, cp932(text))

    def assertDelivered(self, server, records=RECORDS):
        messages = server.messages()
        self.assertEqual(len(messages), len(records))
        for (envelope, message), (address, name, short, ken) in zip(messages, records):
            self.assertEqual(envelope, {"mail_from": "taro@example.jp", "rcpt_tos": [address]})
            self.assertEqual(str(message["From"].addresses[0]), "山田 太郎 <taro@example.jp>")
            self.assertEqual(str(message["To"].addresses[0]), f"{name} <{address}>")
            # The subject is never substituted.
            self.assertEqual(message["Subject"], "謹賀新年　%NAME%様")
            self.assertEqual(message.get_content(), body(short, ken))


class SmtpTest(SmtpTestCase):
    """pinemail.exe's own SMTP sessions (libcurl with Schannel) against the
    recording server of the Linux SMTP tests: the log byte for byte in CP932,
    the messages as the server received them, and no MAPI call at all."""

    def test_plain_starttls_and_implicit_tls_over_one_connection(self):
        auth = ("--auth", "taro:s3cret")
        for url, options, user, tls in [
                # Plain text to this machine, by its IPv4 and IPv6 loopback addresses.
                ("smtp://127.0.0.1:{port}", (), "", 0),
                ("smtp://[::1]:{port}", ("--listen", "::1"), "", 0),
                ("smtp://localhost:{port}", ("--starttls", *self.certs, *auth, "--pipelining"),
                 "taro", 1),
                ("smtps://localhost:{port}", ("--implicit-tls", *self.certs, *auth), "taro", 0),
                # Whole transactions handed over before their replies (BDAT).
                ("smtps://localhost:{port}",
                 ("--implicit-tls", *self.certs, *auth, "--pipelining", "--chunking"), "taro", 0)]:
            with self.subTest(url=url, options=options):
                server = self.server(*options)
                password = "s3cret" if user else ""
                result = self.run_smtp(url.format(port=server.port), user, password)
                self.assertExit(result, 0)
                self.assertLog(header() + credentials(user, password)
                               + "".join(record(address, name, "newyear.txt",
                                                sent("謹賀新年　%NAME%様"))
                                         for address, name, _, _ in RECORDS))
                self.assertDelivered(server)
                state = server.state()
                # One connection, one sign-on, one message after the other.
                transaction = ["MAIL", "BDAT"] if "--chunking" in options else ["MAIL"]
                self.assertEqual(state["commands"],
                                 ["CONNECT", "EHLO"] + ["TLS", "EHLO"] * tls
                                 + transaction * len(RECORDS) + ["QUIT"])
                self.assertEqual((state["logins"], state["failed_logins"]), (1 if user else 0, 0))
                self.assertEqual(state["pipelined"], len(RECORDS) if "--pipelining" in options
                                 else 0)
                self.assertEqual(read_calls(self.folder.path), [])

    def test_sign_on_fails_before_any_record(self):
        own_address = own_network_address()
        auth = ("--auth", "taro:s3cret")
        for case, url, options, user, password, ca_file, failed_logins in [
                ("wrong password", "smtp://localhost:{port}", ("--starttls", *self.certs, *auth),
                 "taro", "wrong", None, 1),
                # The CA file names another CA: Schannel then checks the chain itself.
                ("unknown CA", "smtp://localhost:{port}", ("--starttls", *self.certs, *auth),
                 "taro", "s3cret", self.other_certs[0], 0),
                ("wrong host", "smtps://localhost:{port}",
                 ("--implicit-tls", *self.other_certs, *auth), "taro", "s3cret",
                 self.other_certs[0], 0),
                # This machine by its network address is not loopback: no
                # plain text there, even without credentials.
                ("no TLS offered", "smtp://{host}:{port}", ("--listen", own_address), "", "",
                 None, 0)]:
            if case == "no TLS offered" and own_address is None:
                continue
            with self.subTest(case=case):
                server = self.server(*options)
                result = self.run_smtp(url.format(host=own_address, port=server.port), user,
                                       password, ca_file)
                self.assertExit(result, 2)
                # The log names why, as it does for a failed send.
                self.assertRegex(self.folder.read("pinemail.log").decode("cp932"),
                                 re.escape(credentials(user, password)) + SIGN_ON_FAILED)
                # Refused on the connection, before any transaction.
                state = server.state()
                self.assertEqual((state["connections"], state["logins"], state["failed_logins"]),
                                 (1, 0, failed_logins))
                self.assertNotIn("MAIL", state["commands"])
                self.assertEqual(read_calls(self.folder.path), [])

    def test_at_checks_the_sign_on_then_waits_awake_and_sends_at_its_time(self):
        server = self.server("--starttls", *self.certs, "--auth", "taro:s3cret")
        self.standard_folder("taro", "s3cret",
                             extra=f"Mail Server=smtp://localhost:{server.port}\r\n{SENDER}")
        start = (int(time.time()) // 60 + 10) * 60

        def set_clock(epoch):  # the program's clock reads `epoch` now
            (self.folder.path / "clock.tmp").write_text(str(round(epoch - time.time())))
            os.replace(self.folder.path / "clock.tmp", self.folder.path / "clock")
        set_clock(start - 600)
        at = time.strftime("%Y-%m-%dT%H:%M", time.localtime(start))
        program = RUNNER.start(self.folder, ["list.txt", "/at", at], env={
            "PINEMAIL_CA_FILE": windows_path(self.certs[0]), "PINEMAIL_WINEDEBUG": "warn+ntdll",
            "PINEMAIL_CLOCK_FILE": windows_path(self.folder.path / "clock")})
        self.addCleanup(program.kill)
        # Signed on and off, then waiting: nothing sent before the time.
        deadline = time.monotonic() + 60
        while "QUIT" not in server.state()["commands"] and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(server.messages(), [])
        set_clock(start + 1)
        _, errors = program.communicate(timeout=60)
        self.assertEqual(program.returncode, 0, errors[-2000:])
        self.assertDelivered(server)
        self.assertEqual(server.state()["logins"], 2)
        self.assertRegex(errors, rb"(?s)ExecutionState \(0x80000001,.*ExecutionState \(0x80000000,")

    def test_refusals_retries_and_a_new_connection(self):
        (tanaka, tanaka_name, _, _), (sato, sato_name, _, _) = RECORDS
        for options, outcome, status, connections in [
                # A refused recipient fails its record; the connection carries on.
                (("--refuse", tanaka),
                 failed("謹賀新年　%NAME%様",
                        f"550 5.1.1 <{tanaka}>: Recipient address rejected"), 1, 1),
                # A temporary refusal is tried again; a dropped connection is
                # made again for the next record.
                (("--tempfail", f"{tanaka}:1", "--drop-after", "1"), sent("謹賀新年　%NAME%様"),
                 0, 2)]:
            with self.subTest(options=options):
                server = self.server(*options)
                result = self.run_smtp("smtp://127.0.0.1:{}".format(server.port))
                self.assertExit(result, status)
                self.assertLog(header() + credentials("", "")
                               + record(tanaka, tanaka_name, "newyear.txt", outcome)
                               + record(sato, sato_name, "newyear.txt", sent("謹賀新年　%NAME%様")))
                self.assertDelivered(server, RECORDS[status:])
                self.assertEqual(server.state()["connections"], connections)
                self.assertEqual(read_calls(self.folder.path), [])


    def test_a_refusal_at_each_stage_touches_its_own_record_only(self):
        # The Linux SMTP tests' table over 40 records: a temporary refusal is
        # tried again and goes, a lasting one fails its record alone, and
        # the journal names exactly the messages the server took. (A server
        # that answers 421 and closes with commands unread resets the
        # connection, and Winsock drops the replies received before: a
        # transaction so left without replies goes again, with its
        # Message-ID, and the server may hold it twice.)
        records = [(f"r{n:02d}@example.jp", f"宛先 {n}") for n in range(1, 41)]
        refused = {records[i][0]: i + 1 for i in REFUSED}
        self.folder.write("newyear.txt", TEMPLATE)
        self.folder.write("list.txt", "pinemail.exe 用\r\n" + "".join(
            f"{address},{name},newyear.txt,{name},北海道\r\n" for address, name in records))
        subject = "謹賀新年　%NAME%様"
        for stage, option, reason in STAGE_REFUSALS:
            for kind in (["--pipelining"], ["--pipelining", "--chunking"]):
                with self.subTest(stage=stage, kind=kind):
                    server = self.server(*kind, *[option.format(a=a, n=n)
                                                  for a, n in refused.items()])
                    self.folder.write("pinemail.ini", settings(extra=SENDER + "Mail Server="
                                                               f"smtp://127.0.0.1:{server.port}\r\n"))
                    for name in ("pinemail.log", "pinemail.journal"):
                        (self.folder.path / name).unlink(missing_ok=True)
                    result = RUNNER.run(self.folder, ["list.txt"], timeout=120,
                                        env={"PINEMAIL_SMTP_TIMEOUT_SCALE": "0.1"})
                    self.assertExit(result, 1 if reason else 0)
                    self.assertLog(header() + credentials("", "") + "".join(
                        record(a, n, "newyear.txt", failed(subject, reason.format(a=a))
                               if reason and a in refused else sent(subject))
                        for a, n in records))
                    self.assertEqual(sorted({e["rcpt_tos"][0] for e, _ in server.messages()}),
                                     [a for a, _ in records if not reason or a not in refused])
                    self.assertEqual(set(message_ids(server)),
                                     set(journaled_ids(self.folder.read("pinemail.journal"))))


def normalised(raw):
    """A message as its reader sees it: each part's headers but Date and
    Message-ID and its decoded content, with what derives from the
    Message-ID (the boundaries, the Content-IDs) taken out."""
    message = message_from_bytes(raw, policy=policy.default)
    own_id = message["Message-ID"].strip("<>")

    def clean(text):
        text = re.sub(r'boundary="[^"]*"', "boundary", text)
        return text.replace(own_id, "ID").replace(urllib.parse.quote(own_id, "@"), "ID")
    return [([(k, clean(str(v))) for k, v in part.items() if k not in ("Date", "Message-ID")],
             clean((part.get_payload(decode=True) or b"").decode("latin-1")))
            for part in message.walk()]


class RichMimeTest(SmtpTestCase):
    def test_smtp_outbox_and_the_linux_build_carry_the_same_mime(self):
        linux = Path(os.environ.get("PINEMAIL_LINUX_EXE", ROOT / "build" / "dev" / "src" /
                                    "pinemail"))
        if not linux.exists():
            self.skipTest(f"no Linux build at {linux}")
        server = self.server()
        outbox = self.folder.path / "outbox"
        copies = {}
        for kind, mail_server in (("smtp", f"smtp://127.0.0.1:{server.port}"),
                                  ("wine", "outbox:outbox"), ("linux", "outbox:outbox")):
            shutil.rmtree(outbox, ignore_errors=True)
            self.folder.path.joinpath("pinemail.log").unlink(missing_ok=True)
            self.rich_folder(f"Mail Server={mail_server}\r\n{SENDER}")
            if kind == "linux":
                ran = subprocess.run([str(linux), "list.txt"], capture_output=True, timeout=60,
                                     env={**os.environ, "PINEMAIL_HOME": str(self.folder.path)})
                self.assertEqual(ran.returncode, 1, ran.stderr)
            else:
                self.assertExit(self.folder.run("list.txt"), 1)
            # The Linux build writes its log in the locale's UTF-8.
            self.assertRegex(self.folder.log("utf-8" if kind == "linux" else None), REJECTED_SATO)
            found = server.store.glob("*.eml") if kind == "smtp" else outbox.glob("*.eml")
            copies[kind] = [eml.read_bytes() for eml in sorted(found)]
        wine = [normalised(raw) for raw in copies["wine"]]
        self.assertEqual([normalised(raw) for raw in copies["smtp"]], wine)
        self.assertEqual([normalised(raw) for raw in copies["linux"]], wine)
        # Both records, Tanaka's with the card under its name.
        self.assertEqual(len(wine), 2)
        card = next(message_from_bytes(copies["wine"][0], policy=policy.default)
                    .iter_attachments())
        self.assertEqual((card.get_filename(), card.get_content()), (CARD_NAME, CARD))


class SignOnTest(SmtpTestCase):
    """/signin with the token sealed by DPAPI, a run that refreshes it and
    signs on with XOAUTH2, and a Password Command run without a shell."""

    def token_in_settings(self):
        for line in self.folder.read("pinemail.ini").decode("cp932").splitlines():
            if line.startswith("OAuth Refresh Token="):
                return line.split("=", 1)[1]
        return None

    def test_signin_sealed_token_and_an_oauth2_run(self):
        auth = OAuthServer("--pending", "1", "--rotate", certs=self.certs, host="localhost")
        self.addCleanup(auth.stop)
        smtp = self.server("--starttls", *self.certs, "--xoauth2",
                           f"taro@example.jp:{auth.store / 'access_tokens'}")
        self.standard_folder("taro@example.jp", "", extra=(
            f"Mail Server=smtp://localhost:{smtp.port}\r\n{SENDER}Auth=oauth2\r\n"
            f"OAuth Provider={auth.token_url}\r\nOAuth Client ID=client-1\r\n"))
        env = {"PINEMAIL_CA_FILE": windows_path(self.certs[0])}
        signed_in = RUNNER.run(self.folder, ["/signin"], env=env, timeout=120)
        self.assertExit(signed_in, 0)
        tokens = [auth.refresh_token()]
        sealed = self.token_in_settings()
        # Stored sealed: base64 of a DPAPI blob, not the token.
        self.assertGreater(len(base64.b64decode(sealed, validate=True)), len(tokens[0]))
        self.assertEqual([r["path"] for r in auth.requests()],
                         ["/.well-known/oauth-authorization-server", "/devicecode", "/token",
                          "/token"])

        result = RUNNER.run(self.folder, ["list.txt"], env=env, timeout=120)
        self.assertExit(result, 0)
        self.assertDelivered(smtp)
        self.assertEqual((smtp.state()["logins"], smtp.state()["failed_logins"]), (1, 0))
        tokens.append(auth.refresh_token())  # rotated by the run
        self.assertNotEqual(tokens[0], tokens[1])
        self.assertNotEqual(sealed, self.token_in_settings())
        for token in tokens + auth.access_tokens():
            for text in (self.folder.read("pinemail.ini"), self.folder.read("pinemail.log"),
                         signed_in.stdout, signed_in.stderr, result.stdout, result.stderr):
                self.assertNotIn(token.encode(), text)

    def test_password_command_without_a_shell(self):
        secret = self.folder.root / "secret.txt"
        secret.write_bytes(b"s3cret\r\nsecond\r\n")
        # A background program holding the output open, one that never ends:
        # the run goes on (or fails its sign-on) and neither is left running.
        for command, status in ((f"cmd /c type {windows_path(secret)}", 0),
                                (f"cmd /c type {windows_path(secret)}& start /b ping -n 601 "
                                 "127.0.0.1", 0),
                                ("cmd /c ping -n 602 127.0.0.1", 2),
                                ("cmd /c exit 3", 2)):
            with self.subTest(command=command):
                server = self.server("--starttls", *self.certs, "--auth", "taro:s3cret")
                self.standard_folder("taro", "", extra=(
                    f"Mail Server=smtp://localhost:{server.port}\r\n{SENDER}"
                    f"Password Command={command}\r\n"))
                (self.folder.path / "pinemail.log").unlink(missing_ok=True)
                result = RUNNER.run(self.folder, ["list.txt"], timeout=120,
                                    env={"PINEMAIL_CA_FILE": windows_path(self.certs[0]),
                                         "PINEMAIL_SMTP_TIMEOUT_SCALE": "0.05"})
                self.assertExit(result, status)
                self.assertEqual(server.state()["logins"], 1 - status // 2)
                self.assertEqual(running_with(b"ping -n 60"), [])
                self.assertNotIn(b"s3cret", self.folder.read("pinemail.log") + result.stdout
                                 + result.stderr)


# What a static mingw build may import: DLLs every Windows system has.
SYSTEM_DLLS = {"advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "dnsapi.dll",
               "gdi32.dll", "iphlpapi.dll", "kernel32.dll", "msvcrt.dll", "normaliz.dll", "ole32.dll",
               "oleaut32.dll", "secur32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
               "ws2_32.dll", "wldap32.dll"}


class ExecutableTest(unittest.TestCase):
    def test_a_64_bit_gui_program_that_imports_only_system_dlls(self):
        headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(EXE)],
                                 capture_output=True, text=True, check=True).stdout
        self.assertRegex(headers, r"\nMagic\s+020b\s+\(PE32\+\)")
        self.assertRegex(headers, r"\nSubsystem\s+00000002\s+\(Windows GUI\)")
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
        self.assertIn("ws2_32.dll", imported)  # the SMTP sessions' sockets
        self.assertLessEqual(imported, SYSTEM_DLLS)


class StartAndStopTest(WineTestCase):
    """Runs that end before any mail: the exit statuses and what is left on
    disk. No display is set, so no window can appear and none may be waited
    for."""

    def test_help_asked_or_list_missing_without_a_display(self):
        for args, status in ((["/H"], 0), (["-h"], 0), (["list.txt /h"], 0), ([], 0),
                             (["nothing.txt"], 2)):
            with self.subTest(args=args):
                self.folder.write("list.txt", LIST)
                self.assertExit(self.folder.run(*args), status)
                self.assertFalse((self.folder.path / "pinemail.log").exists())
                self.assertFalse((self.folder.path / "pinemail.ini").exists())
        self.assertEqual(read_calls(self.folder.path), [])

    def test_an_unopenable_list_writes_nothing_to_the_log(self):
        # A wildcard passes the existence test but cannot be opened.
        self.standard_folder()
        self.folder.write("pinemail.log", b"earlier\r\n")
        self.assertExit(self.folder.run("lis?.txt"), 2)
        self.assertEqual(self.folder.read("pinemail.log"), b"earlier\r\n")
        self.assertEqual(read_calls(self.folder.path), [])

    def test_empty_and_unrecognised_lists_stop_before_the_client(self):
        for content, line in ((b"", "指定のファイルは空です。"),
                              (cp932("PINEMAIL.EXE 用\r\na@example.jp,A,newyear.txt\r\n"),
                               "指定のファイルは pinemail.exe 用であるとは認識できませんでした。")):
            with self.subTest(line=line):
                self.standard_folder()
                self.folder.write("list.txt", content)
                (self.folder.path / "pinemail.log").unlink(missing_ok=True)
                self.assertExit(self.folder.run("list.txt"), 2)
                self.assertEqual(self.folder.log(), header() + line + "\r\n\r\n")
        self.assertEqual(read_calls(self.folder.path), [])

    def test_a_list_of_only_its_mark_signs_on_and_off(self):
        self.standard_folder()
        self.folder.write("list.txt", "pinemail.exe\r\n")
        self.assertExit(self.folder.run("list.txt"), 0)
        self.assertEqual(self.folder.log(), header() + credentials("taro", "s3cret"))
        self.assertEqual([name for name, _ in read_calls(self.folder.path)],
                         ["MAPILogon", "MAPILogoff"])

    def test_a_second_run_finds_the_log_in_use_and_writes_nothing(self):
        self.standard_folder()
        self.folder.write("mapi_control.txt", b"hold_first_send\n")
        first = RUNNER.start(self.folder, ["list.txt"])
        self.addCleanup(lambda: first.poll() is None and first.kill())
        deadline = time.monotonic() + 120
        while not (self.folder.path / "mapi_held").exists():
            self.assertLess(time.monotonic(), deadline, "the first run never sent")
            time.sleep(0.05)
        while_held = self.folder.log()
        # No pipes for its output: the desktop process Wine starts for the
        # warning would hold them until the first run ends.
        second = subprocess.run(RUNNER.command(self.folder, ["list.txt"]), env=RUNNER.env,
                                cwd=self.folder.path, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        (self.folder.path / "mapi_go").touch()
        first.communicate(timeout=120)

        # Without a display the warning box cannot show; the status says it.
        self.assertEqual(second.returncode, 2)
        self.assertEqual(while_held, header() + credentials("taro", "s3cret"))
        self.assertEqual(first.returncode, 0)
        self.assertEqual(self.folder.log(),
                         header() + credentials("taro", "s3cret")
                         + record("tanaka@example.jp", "田中 一郎", "newyear.txt",
                                  sent("謹賀新年　%NAME%様"))
                         + record("sato@example.jp", "佐藤 花子", "newyear.txt",
                                  sent("謹賀新年　%NAME%様")))
        self.assertEqual([name for name, _ in read_calls(self.folder.path)],
                         ["MAPILogon", "MAPISendMailW", "MAPISendMailW", "MAPILogoff"])


CHECKED = "送信前の確認です。メールは送信しません。\r\n\r\n"
NO_DNS = {"PINEMAIL_DNS_SERVER": "127.0.0.1:9"}  # nothing answers there


class CheckAndTestTest(SmtpTestCase):
    """/check and /test through MAPI and SMTP."""

    def test_through_mapi(self):
        self.standard_folder()
        self.folder.write("list.txt", LIST + "kato@example.jp,加藤,missing.txt,加藤,京都\r\n")
        self.assertExit(RUNNER.run(self.folder, ["list.txt", "/check"], env=NO_DNS), 1)
        self.assertEqual([name for name, _ in read_calls(self.folder.path)],
                         ["MAPILogon", "MAPILogoff"])
        self.assertEqual(self.folder.log(), header() + CHECKED + credentials("taro", "s3cret")
                         + record("kato@example.jp", "加藤", "missing.txt", REJECTED)
                         + "確認を終えました。全 3 件のうち 1 件は送信できません。\r\n\r\n")
        self.assertFalse(self.folder.exists("pinemail.journal"))
        (self.folder.path / "mapi_calls.txt").unlink()
        self.assertExit(self.folder.run("list.txt", "/test", "Me@example.jp"), 1)
        sends = [f for name, f in read_calls(self.folder.path) if name.startswith("MAPISend")]
        self.assertEqual([(f["recip"], f["subject"].decode()) for f in sends],
                         [([(1, "田中 一郎".encode(), b"Me@example.jp", 0)],
                           "[テスト] 謹賀新年　%NAME%様")])
        # A preview needs no sender address: the mail client would put it in.
        (self.folder.path / "mapi_calls.txt").unlink()
        self.assertExit(self.folder.run("list.txt", "/preview", "/quiet"), 1)
        self.assertEqual(read_calls(self.folder.path), [])
        written = [message_from_bytes(eml.read_bytes(), policy=policy.default)
                   for eml in sorted((self.folder.path / "preview").glob("*.eml"))]
        self.assertEqual([(m["To"].addresses[0].addr_spec, m["From"].addresses[0].domain)
                          for m in written],
                         [(address, "mail-client.invalid") for address, *_ in RECORDS])

    def test_through_smtp(self):
        server = self.server()
        self.standard_folder("", "", extra=f"Mail Server=smtp://127.0.0.1:{server.port}\r\n{SENDER}")
        self.assertExit(RUNNER.run(self.folder, ["list.txt", "/check"], env=NO_DNS), 0)
        self.assertEqual((server.messages(), server.state()["commands"]),
                         ([], ["CONNECT", "EHLO", "QUIT"]))
        log = self.folder.log()
        self.assertTrue(log.startswith(header() + CHECKED + credentials("", "")), log)
        self.assertTrue(log.endswith("確認を終えました。全 2 件を送信できます。\r\n\r\n"), log)
        self.assertExit(self.folder.run("list.txt", "/test", "me@example.jp"), 0)
        self.assertEqual([(e["rcpt_tos"], m["Subject"]) for e, m in server.messages()],
                         [(["me@example.jp"], "[テスト] 謹賀新年　%NAME%様")])
        self.assertEqual(read_calls(self.folder.path), [])


class WarningBoxTest(WineTestCase):
    """With a display, the open failure shows the box and waits for it."""

    def start_display(self):
        read_end, write_end = os.pipe()
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                   "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        return f":{number}"

    def test_the_box_says_the_open_failed_and_the_run_ends_when_it_is_closed(self):
        probe = BUILD / "tests" / "gui" / "probe_window.exe"
        if shutil.which("Xvfb") is None or not probe.exists():
            self.skipTest("Xvfb and the window probe are needed")
        display = self.start_display()
        self.standard_folder()
        self.folder.write("pinemail.log", b"earlier\r\n")
        env = dict(RUNNER.env, DISPLAY=display)
        # A desktop of its own, made with this display: the Wine server may
        # already host a default desktop made without one, where no window opens.
        desktop = f"pinemail-box-{os.getpid()}"
        wine_run = RUNNER.command(self.folder, [])[0]
        program = subprocess.Popen([wine_run, "explorer", f"/desktop={desktop},800x600",
                                    self.folder.exe.name, "lis?.txt"],
                                   cwd=self.folder.path, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: program.poll() is None and program.kill())
        # The probe finds the box (so the run waits on it), checks its
        # text, presses OK and reports the program's exit status.
        answered = subprocess.run([wine_run, str(probe), "--desktop", desktop, "box"],
                                  env=env, capture_output=True, text=True, timeout=180)
        self.assertEqual(answered.returncode, 0, answered.stdout + answered.stderr)
        self.assertIn("program exit status: 2", answered.stdout)
        self.assertEqual(self.folder.read("pinemail.log"), b"earlier\r\n")
        program.wait(timeout=60)
        # A check started without a console ends with its summary in a box.
        program = subprocess.Popen([wine_run, "explorer", f"/desktop={desktop}-check,800x600",
                                    self.folder.exe.name, "list.txt", "/check"],
                                   cwd=self.folder.path, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        answered = subprocess.run([wine_run, str(probe), "--desktop", f"{desktop}-check", "box",
                                   "確認を終えました。全 2 件を送信できます。", "0"],
                                  env=env, capture_output=True, text=True, timeout=180)
        self.assertEqual(answered.returncode, 0, answered.stdout + answered.stderr)
        program.wait(timeout=60)


class PackageTest(WineTestCase):
    """The release zip: its files, their encoding, and a run of the packed
    program over the packed examples."""

    def test_the_zip_holds_the_program_and_windows_texts_that_work(self):
        out = self.folder.root / "package"
        env = dict(os.environ, PINEMAIL_PACKAGE_BUILD=str(BUILD), PINEMAIL_PACKAGE_OUT=str(out))
        made = subprocess.run([str(ROOT / "scripts" / "package-windows")], env=env,
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(made.returncode, 0, made.stderr)
        archives = list(out.glob("pinemail-*-win64.zip"))
        self.assertEqual(len(archives), 1)
        top = archives[0].name[:-len(".zip")]
        texts = ["pinemail.ini", "list.txt", "newyear.txt", "newyear-business.txt", "readme.txt",
                 "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"]
        with zipfile.ZipFile(archives[0]) as archive:
            packed = texts + ["pinemail.exe", "newyear.html", "card.png"]
            self.assertEqual(sorted(archive.namelist()), sorted(f"{top}/{name}" for name in packed))
            archive.extractall(self.folder.root / "unpacked")
        unpacked = self.folder.root / "unpacked" / top
        self.assertEqual((unpacked / "pinemail.exe").read_bytes(), EXE.read_bytes())
        self.assertEqual((unpacked / "pinemail.ini").read_bytes(),
                         b"[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=NAME,KEN,GOBI\r\n")
        for name in texts:
            with self.subTest(name=name):
                data = (unpacked / name).read_bytes()
                data.decode("cp932")  # strict: raises on anything else
                self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
                self.assertTrue(data.endswith(b"\r\n"))
                self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
                self.assertEqual(data.count(b"\r"), data.count(b"\r\n"))
        self.assertIn("pinemail.exe", (unpacked / "list.txt").read_bytes().decode("cp932")
                      .splitlines()[0])
        self.assert_licence_and_notices(unpacked)

        # The packed program runs the packed list through the mail client.
        result = subprocess.run([str(WINE_RUN), str(unpacked / "pinemail.exe"), "list.txt"],
                                env=RUNNER.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=60)
        self.assertIn(result.returncode, (0, 1))
        sends = [f for name, f in read_calls(unpacked) if name == "MAPISendMailW"]
        self.assertGreater(len(sends), 0)
        for send in sends:
            self.assertNotIn(b"%NAME%", send["text"])
        log = (unpacked / "pinemail.log").read_bytes().decode("cp932")
        self.assertEqual(log.count("メッセージ送信"), len(sends))

    def assert_licence_and_notices(self, unpacked):
        """LICENSE.txt is the project's licence; the notices name the libcurl
        the build compiled against and hold its licence as in its source."""
        def text(path):
            return path.read_bytes().decode("cp932").replace("\r\n", "\n")
        self.assertEqual(text(unpacked / "LICENSE.txt"), (ROOT / "LICENSE").read_text())
        notices = text(unpacked / "THIRD-PARTY-NOTICES.txt")
        curlver = (BUILD / "curl" / "install" / "include" / "curl" / "curlver.h").read_text()
        version = re.search(r'#define LIBCURL_VERSION "([^"]+)"', curlver).group(1)
        self.assertIn(f"libcurl {version}", notices)
        self.assertIn((BUILD / "curl" / "source" / "COPYING").read_text().strip(), notices)
        for runtime in ("mingw-w64", "winpthreads", "GCC RUNTIME LIBRARY EXCEPTION"):
            self.assertIn(runtime, notices)


def main():
    global EXE, DOUBLE, DOUBLE_ANSI, BUILD
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    EXE, DOUBLE, DOUBLE_ANSI, BUILD = (Path(p) for p in sys.argv[1:5])
    AnsiClientTest.double = DOUBLE_ANSI
    # One stand-in serves the whole shared prefix: runs of this suite take
    # turns, and Wine's own file is put back at the end.
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    with open(str(PREFIX) + ".mapi-double.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        subprocess.run([str(WINE_RUN), "cmd.exe", "/c", "exit"], stdin=subprocess.DEVNULL,
                       capture_output=True, env={k: v for k, v in os.environ.items()
                                                 if k != "DISPLAY"})
        try:
            program = unittest.main(argv=[sys.argv[0]] + sys.argv[5:], exit=False)
        finally:
            if WINE_ORIGINAL.exists():
                shutil.copyfile(WINE_ORIGINAL, SYSTEM_MAPI)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
