"""Black-box tests of the pinemail executable: exit statuses, the run log,
the settings file, the outbox messages, the warning and the help.

Usage: test_batch.py --exe PATH [--wine] [unittest options]
"""

import argparse
import os
import pathlib
import re
import resource
import shutil
import signal
import sys
import tempfile
import time
import unittest

import harness
from harness import (BANNER, DATE_MASK, REJECTED_LINES, log_block, record_lines,
                     sent_lines)

EXE = None
RUNNER = None

SETTINGS = """[Config]
User Name=taro
Password=himitsu
Subst Key Word=NAME,KEN,GOBI
Mail Server=outbox:outbox
From=山田 太郎 <taro@example.jp>
"""
TEMPLATE = """あけましておめでとう

%NAME%さん
%KEN%はどう%GOBI%？
"""
LIST = """pinemail.exe の送信先
#家族
tanaka@example.jp,田中 一郎,newyear.txt,田中,北海道,だべ

sato@example.jp,,newyear.txt,佐藤
"""
CREDENTIALS = ("User Name: taro", "Password : *******", "")


class BatchTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.ProgramFolder(EXE, encoding=RUNNER.log_encoding)
        self.addCleanup(self.folder.cleanup)

    def prepare(self, settings=SETTINGS, listing=LIST, template=TEMPLATE):
        if settings is not None:
            self.folder.write_text("pinemail.ini", settings)
        self.folder.write_text("list.txt", listing)
        self.folder.write_text("newyear.txt", template)

    def run_program(self, *args, **kwargs):
        return RUNNER.run(self.folder, args, **kwargs)

    def test_sends_accepted_records_and_logs_every_record(self):
        self.prepare()
        result = self.run_program("list.txt")
        self.assertEqual(1, result.status, result.stderr)
        # Not a terminal: nothing on the standard streams.
        self.assertEqual(b"", result.stdout)
        self.assertEqual(b"", result.stderr)
        expected = log_block(
            *CREDENTIALS,
            *record_lines("tanaka@example.jp", "田中 一郎", "newyear.txt"),
            *sent_lines("あけましておめでとう"),
            *record_lines("sato@example.jp", "", "newyear.txt"), *REJECTED_LINES)
        self.assertEqual(expected, self.folder.log())
        self.assertNotIn(b"himitsu", self.folder.read_bytes("pinemail.log"))

        messages = self.folder.messages()
        self.assertEqual(1, len(messages))
        message = messages[0]
        self.assertEqual("taro@example.jp", message["From"].addresses[0].addr_spec)
        self.assertEqual("山田 太郎", message["From"].addresses[0].display_name)
        self.assertEqual("田中 一郎", message["To"].addresses[0].display_name)
        self.assertEqual("tanaka@example.jp", message["To"].addresses[0].addr_spec)
        self.assertEqual("あけましておめでとう", message["Subject"])
        self.assertEqual(BANNER + "田中さん\r\n北海道はどうだべ？\r\n", message.get_content())

    def test_two_runs_append_two_blocks_and_keep_the_settings(self):
        self.prepare(listing="pinemail.exe\ntanaka@example.jp,田中,newyear.txt\n")
        self.assertEqual(0, self.run_program("list.txt").status)
        self.assertEqual(0, self.run_program(RUNNER.path_of(self.folder.file("list.txt"))).status)
        block = log_block(*CREDENTIALS,
                          *record_lines("tanaka@example.jp", "田中", "newyear.txt"),
                          *sent_lines("あけましておめでとう"))
        self.assertEqual(block + block, self.folder.log())
        self.assertEqual(2, len(self.folder.messages()))
        self.assertEqual(harness.crlf(SETTINGS).encode(RUNNER.log_encoding),
                         self.folder.read_bytes("pinemail.ini"))

    def test_resume_sends_only_what_the_last_run_did_not(self):
        # The first run sends tanaka and rejects sato (no name).
        self.prepare()
        self.assertEqual(1, self.run_program("list.txt").status)
        first_ids = [m["Message-ID"] for m in self.folder.messages()]
        # Sato's line fixed and a record added: the resumed run sends those
        # two and only those, and says tanaka was sent before.
        self.prepare(listing=LIST.replace("sato@example.jp,,", "sato@example.jp,佐藤 花子,")
                     + "suzuki@example.jp,鈴木 次郎,newyear.txt,鈴木\n")
        log_before = self.folder.log()
        self.assertEqual(0, self.run_program("list.txt", "/resume").status)
        subject = "あけましておめでとう"
        self.assertEqual(log_before + log_block(
            *CREDENTIALS,
            *record_lines("tanaka@example.jp", "田中 一郎", "newyear.txt"),
            "件名　　　　　: " + subject, "前回の実行で送信済みです。", harness.DASHES, "",
            *record_lines("sato@example.jp", "佐藤 花子", "newyear.txt"), *sent_lines(subject),
            *record_lines("suzuki@example.jp", "鈴木 次郎", "newyear.txt"), *sent_lines(subject)),
            self.folder.log())
        messages = self.folder.messages()
        self.assertEqual(["tanaka@example.jp", "sato@example.jp", "suzuki@example.jp"],
                         [m["To"].addresses[0].addr_spec for m in messages])
        # One run id: the Message-IDs share it.
        run_ids = {m["Message-ID"].strip("<>").split(".")[0] for m in messages}
        self.assertEqual(1, len(run_ids), messages)
        self.assertEqual(first_ids, [m["Message-ID"] for m in messages[:1]])
        # Nothing is left to send, whatever the case of the option.
        self.assertEqual(0, self.run_program("list.txt", "/RESUME").status)
        self.assertEqual(3, len(self.folder.messages()))

    def test_resume_finds_its_run_after_a_move_or_an_edit_and_only_its_run(self):
        # The first run sends tanaka and rejects sato; after each change, the
        # resumed run (sato's line fixed) sends sato alone with the first
        # run's id, or, with no run of the list to resume, nothing: status 2.
        fixed = LIST.replace("sato@example.jp,,", "sato@example.jp,佐藤 花子,")
        cases = [(harness.ProgramFolder.move, "list.txt", 0),
                 (lambda f: f.edit("pinemail.journal",
                                   lambda j: b"\xef\xbb\xbf" + j.replace(b"\n", b"\r\n")), "list.txt", 0),
                 (lambda f: f.edit("pinemail.journal",
                                   lambda j: j.replace(b"\tstart\t", b"\tst?rt\t")), "list.txt", 0),
                 (lambda f: f.write_text("list.txt", fixed.replace("\n", "  \n"), encoding="cp932"
                                         if RUNNER.log_encoding == "utf-8" else "utf-8-sig"), "list.txt", 0),
                 (lambda f: f.file("pinemail.journal").unlink(), "list.txt", 2),
                 (lambda f: f.file("list.txt").rename(f.file("list2.txt")), "list2.txt", 2)]
        for number, (change, listing, status) in enumerate(cases):
            with self.subTest(case=number):
                self.setUp()
                self.prepare()
                self.assertEqual(1, self.run_program("list.txt").status)
                self.folder.write_text("list.txt", fixed)
                change(self.folder)
                self.assertEqual(status, self.run_program(listing, "/resume").status)
                messages = self.folder.messages()
                self.assertEqual(["tanaka@example.jp", "sato@example.jp"][:2 - status // 2],
                                 [m["To"].addresses[0].addr_spec for m in messages])
                self.assertEqual(1, len({m["Message-ID"].split(".")[0] for m in messages}))
                self.assertEqual(status == 2, "送信を中断しました。(/resume: " in self.folder.log())

    def test_a_journal_that_is_no_regular_file_is_an_open_failure(self):
        self.prepare()
        journal = self.folder.file("pinemail.journal")
        for make in (os.mkfifo, lambda path: os.symlink("/dev/null", path)):
            make(journal)
            self.assertEqual(2, self.run_program("list.txt", timeout=30).status)
            self.assertEqual(b"", self.folder.read_bytes("pinemail.log"))
            self.assertFalse(self.folder.exists("outbox"))
            journal.unlink()

    def test_settings_file_created_when_missing(self):
        self.prepare(settings=None)
        result = self.run_program("list.txt")
        self.assertEqual(b"[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n",
                         self.folder.read_bytes("pinemail.ini"))
        head = log_block("User Name: ", "Password : ", "")
        self.assertTrue(self.folder.log().startswith(head), self.folder.log())
        if RUNNER.default_transport_needs_sender:
            # Without "From" or an address as "User Name" there is no sender.
            self.assertEqual(2, result.status)
            self.assertEqual(head + "ログインに失敗しました。(送信者のアドレスがありません (From も User Name もアドレスではありません))\r\n",
                             self.folder.log())

    def test_banner_switch(self):
        self.prepare(settings=SETTINGS + "NO_INSERT_TEXT=TRUE\n",
                     listing="pinemail.exe\na@example.jp,A,newyear.txt,X,Y,Z\n")
        self.assertEqual(0, self.run_program("list.txt").status)
        self.assertEqual("Xさん\r\nYはどうZ？\r\n", self.folder.messages()[0].get_content())

    def test_failed_send_is_logged_and_the_run_goes_on(self):
        self.prepare(listing="pinemail.exe\n<bad>,Bad,newyear.txt\ngood@example.jp,Good,newyear.txt\n")
        self.assertEqual(1, self.run_program("list.txt").status)
        lines = self.folder.log().split("\r\n")
        failed_at = lines.index("件名　　　　　: あけましておめでとう") + 1
        self.assertRegex(lines[failed_at], r"^送信に失敗しました。\(.+\)$")
        self.assertEqual(harness.EQUALS, lines[failed_at + 1])
        self.assertEqual("good@example.jp",
                         self.folder.messages()[0]["To"].addresses[0].addr_spec)

    def test_cards_go_with_their_records_and_a_missing_card_rejects_its_record_alone(self):
        card = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 40
        self.folder.write_bytes("年賀状.png", card)
        self.folder.write_text("newyear.html", "<p>%NAME%さん</p>\n")
        settings = SETTINGS.replace("GOBI\n", "GOBI,CARD\nAttach Key Word=CARD\n")
        self.prepare(settings=settings, listing="pinemail.exe\n"
                     "tanaka@example.jp,田中,newyear.txt,<b>&,北海道,だべ,年賀状.png\n"
                     "sato@example.jp,佐藤,newyear.txt,佐藤,,,none.png\n"
                     "kato@example.jp,加藤,newyear.txt,加藤\n")
        self.assertEqual(1, self.run_program("list.txt").status)
        self.assertRegex(self.folder.log(), r"sato@example.jp\r\n.*\r\n.*\r\n"
                         r"送信に十分なデータが取得できませんでした。\(.*none\.png.*\)\r\n")
        tanaka, kato = self.folder.messages()
        types = ["multipart/alternative", "text/plain", "text/html"]
        self.assertEqual((["multipart/mixed"] + types + ["image/png"], types),
                         tuple([p.get_content_type() for p in m.walk()] for m in (tanaka, kato)))
        attachment = next(tanaka.iter_attachments())
        self.assertEqual(("年賀状.png", card), (attachment.get_filename(), attachment.get_content()))
        self.assertIn("<p>&lt;b&gt;&amp;さん</p>", tanaka.get_body(("html",)).get_content())
        # A name that is no keyword stops the run before anything goes.
        self.folder.write_text("pinemail.ini", settings.replace("=CARD\n", "=CARDO\n"))
        self.assertEqual(2, self.run_program("list.txt").status)
        self.assertIn("CARDO", self.folder.log().split(harness.STARS)[-1])
        self.assertEqual(2, len(self.folder.messages()))

    def prepare_checked_list(self):
        """A record with a card and HTML, then a wrong template, card and address."""
        self.folder.write_bytes("年賀状.png", b"\x89PNG\r\n\x1a\n" + bytes(range(256)))
        self.folder.write_text("newyear.html", "<p>%NAME%さん</p>\n")
        self.prepare(settings=SETTINGS.replace("GOBI\n", "GOBI,CARD\nAttach Key Word=CARD\n"),
                     listing="pinemail.exe\n"
                     "tanaka@example.jp,田中,newyear.txt,田中,,,年賀状.png\n"
                     "sato@example.jp,佐藤,missing.txt,佐藤\n"
                     "kato@example.jp,加藤,newyear.txt,加藤,,,none.png\n"
                     "<bad>,悪い,newyear.txt,悪\n")

    def test_check_logs_what_a_run_would_not_send_and_sends_nothing(self):
        self.prepare_checked_list()
        self.assertEqual(1, self.run_program("list.txt", "/check").status)
        self.assertEqual([], self.folder.messages())
        self.assertFalse(self.folder.exists("pinemail.journal"))
        self.assertEqual(1, self.run_program("list.txt").status)
        # The check's block is the run's without the record that went, marked
        # under the date and closed by the summary.
        check, run = self.folder.log().split(harness.STARS)[1:]
        went = "".join(line + "\r\n" for line in record_lines("tanaka@example.jp", "田中",
                                                              "newyear.txt")
                       + sent_lines("あけましておめでとう"))
        dated = "\r\n" + DATE_MASK + "\r\n\r\n"
        self.assertEqual(run.replace(went, "").replace(
            dated, dated + "送信前の確認です。メールは送信しません。\r\n\r\n")
            + "確認を終えました。全 4 件のうち 3 件は送信できません。\r\n\r\n", check)
        self.assertEqual(3, check.count("送信先アドレス"))

    def test_preview_writes_the_messages_a_run_sends_and_only_its_own_files_go(self):
        self.prepare_checked_list()
        self.folder.write_bytes("preview/00000009.eml", b"an earlier preview")
        self.folder.write_bytes("preview/mine.txt", b"kept")
        self.assertEqual(1, self.run_program("list.txt", "/preview", "/quiet").status)
        self.assertEqual(b"", self.folder.read_bytes("pinemail.log"))
        self.assertFalse(self.folder.exists("pinemail.journal"))
        self.assertEqual(["00000001.eml", "mine.txt"],
                         sorted(p.name for p in self.folder.file("preview").iterdir()))
        self.assertEqual(1, self.run_program("list.txt").status)

        def unstamped(folder):
            # Date, Message-ID and the boundaries made from it aside.
            found = []
            for path in sorted(self.folder.file(folder).glob("*.eml")):
                data = re.sub(rb"(?m)^(Date|Message-ID): .*\r\n", b"", path.read_bytes())
                for n, mark in enumerate(dict.fromkeys(re.findall(rb'boundary="([^"]+)"', data))):
                    data = data.replace(mark, b"boundary-%d" % n)
                found.append(data)
            return found
        self.assertEqual(unstamped("outbox"), unstamped("preview"))

    def test_lists_that_stop_the_run_early(self):
        cases = {
            "": "指定のファイルは空です。",
            "PINEMAIL.EXE\na@example.jp,A,newyear.txt\n":
                "指定のファイルは pinemail.exe 用であるとは認識できませんでした。",
        }
        expected = ""
        for listing, line in cases.items():
            with self.subTest(line=line):
                self.prepare(listing=listing)
                self.assertEqual(2, self.run_program("list.txt").status)
                expected += log_block(line, "")
                self.assertEqual(expected, self.folder.log())
        self.assertFalse(self.folder.exists("outbox"))

    def test_cp932_files_read_under_a_utf8_locale(self):
        self.folder.write_text("pinemail.ini", SETTINGS)
        self.folder.write_text("list.txt", LIST, encoding="cp932")
        self.folder.write_text("newyear.txt", TEMPLATE, encoding="cp932")
        self.assertEqual(1, self.run_program("list.txt", env={"LC_ALL": "C.UTF-8"}).status)
        log = self.folder.log()
        self.assertIn("表示送信者名　: 田中 一郎\r\n", log)
        self.assertIn("件名　　　　　: あけましておめでとう\r\n", log)
        self.assertEqual(BANNER + "田中さん\r\n北海道はどうだべ？\r\n",
                         self.folder.messages()[0].get_content())

    def test_cp932_is_decided_for_the_whole_file(self):
        # "ﾐｽﾞｷ" in CP932 (D0 BD DE B7) is valid UTF-8 too; the lines after it
        # are not, and they decide.
        self.folder.write_text("pinemail.ini", SETTINGS)
        self.folder.write_text("list.txt", "pinemail.exe\nm@example.jp,ﾐｽﾞｷ,kana.txt,ﾐｽﾞｷ\n#家族\n",
                               encoding="cp932")
        self.folder.write_text("kana.txt", "ﾐｽﾞｷ\n\n%NAME%さん\n", encoding="cp932")
        self.assertEqual(0, self.run_program("list.txt", env={"LC_ALL": "C.UTF-8"}).status)
        self.assertEqual(log_block(*CREDENTIALS, *record_lines("m@example.jp", "ﾐｽﾞｷ", "kana.txt"),
                                   *sent_lines("ﾐｽﾞｷ")), self.folder.log())
        message = self.folder.messages()[0]
        self.assertEqual("ﾐｽﾞｷ", message["To"].addresses[0].display_name)
        self.assertEqual(BANNER + "ﾐｽﾞｷさん\r\n", message.get_content())

    def test_utf16_files_with_a_byte_order_mark(self):
        # Notepad's "Unicode" is UTF-16 LE; BE is read as well. The settings
        # file follows the system's profile reader, which reads both.
        for encoding in ("utf-16-le", "utf-16-be"):
            with self.subTest(encoding=encoding):
                for name, text in (("pinemail.ini", SETTINGS), ("list.txt", LIST),
                                   ("newyear.txt", TEMPLATE)):
                    self.folder.write_bytes(name, ("\ufeff" + harness.crlf(text)).encode(encoding))
                self.folder.file("pinemail.log").unlink(missing_ok=True)
                harness.shutil.rmtree(self.folder.file("outbox"), ignore_errors=True)
                self.assertEqual(1, self.run_program("list.txt").status)
                self.assertEqual(log_block(
                    *CREDENTIALS,
                    *record_lines("tanaka@example.jp", "田中 一郎", "newyear.txt"),
                    *sent_lines("あけましておめでとう"),
                    *record_lines("sato@example.jp", "", "newyear.txt"), *REJECTED_LINES),
                    self.folder.log())
                message = self.folder.messages()[0]
                self.assertEqual("山田 太郎", message["From"].addresses[0].display_name)
                self.assertEqual(BANNER + "田中さん\r\n北海道はどうだべ？\r\n", message.get_content())

    @unittest.skipIf("--wine" in sys.argv, "file names are bytes on POSIX only")
    def test_cp932_file_names_are_found(self):
        # Unpacked from an archive made on Japanese Windows, names keep their
        # CP932 bytes; the list names its template in text, CP932 or UTF-8.
        cp932_list = os.fsdecode("送信先.txt".encode("cp932"))
        template_name = os.fsdecode("年賀.txt".encode("cp932"))
        self.folder.write_text("pinemail.ini", SETTINGS)
        self.folder.write_text(template_name, TEMPLATE, encoding="cp932")
        for list_name, encoding in ((cp932_list, "cp932"), ("list.txt", "utf-8")):
            with self.subTest(list_encoding=encoding):
                self.folder.write_text(list_name, "pinemail.exe\nt@example.jp,田中,年賀.txt,田中\n",
                                       encoding=encoding)
                self.folder.file("pinemail.log").unlink(missing_ok=True)
                self.assertEqual(0, self.run_program(list_name).status)
                self.assertEqual(log_block(*CREDENTIALS,
                                           *record_lines("t@example.jp", "田中", "年賀.txt"),
                                           *sent_lines("あけましておめでとう")), self.folder.log())

    def test_relative_names_mean_the_program_folder(self):
        self.prepare()
        with harness.tempfile.TemporaryDirectory() as cwd:
            # A list of the same name in the current folder is not looked at.
            harness.pathlib.Path(cwd, "list.txt").write_bytes(b"not a list\r\n")
            self.assertEqual(1, self.run_program("list.txt", cwd=cwd).status)
        self.assertIn("メッセージ送信", self.folder.log())

    def test_two_runs_into_one_outbox_keep_every_message_in_order(self):
        # Two program folders (so two logs) sending into one outbox at once.
        shared = pathlib.Path(tempfile.mkdtemp(prefix="pinemail-shared-outbox-"))
        self.addCleanup(shutil.rmtree, shared, ignore_errors=True)
        other = harness.ProgramFolder(EXE, encoding=RUNNER.log_encoding)
        self.addCleanup(other.cleanup)
        count = 1000
        expected = {}
        for tag, folder in (("a", self.folder), ("b", other)):
            expected[tag] = [f"{tag}{i:04}@example.jp" for i in range(count)]
            folder.write_text("pinemail.ini", SETTINGS.replace(
                "outbox:outbox", "outbox:" + RUNNER.path_of(shared)))
            folder.write_text("newyear.txt", TEMPLATE)
            folder.write_text("list.txt", "pinemail.exe\n" + "".join(
                f"{address},{tag},newyear.txt\n" for address in expected[tag]))
        runs = [RUNNER.start(folder, ["list.txt"]) for folder in (self.folder, other)]
        errors = [run.communicate(timeout=600)[1] for run in runs]
        self.assertEqual([0, 0], [run.returncode for run in runs], errors)
        # Every message is there, and each run's sort in its sending order.
        recipients = [re.search(rb"(?m)^To: .*<([^>]+)>\r$", path.read_bytes()).group(1).decode()
                      for path in sorted(shared.glob("*.eml"))]
        self.assertEqual(2 * count, len(recipients))
        for tag, addresses in expected.items():
            self.assertEqual(addresses, [r for r in recipients if r.startswith(tag)])


class HomeTest(unittest.TestCase):
    """`--home DIR` and PINEMAIL_HOME: another folder plays the program folder's part."""

    def setUp(self):
        self.folder = harness.ProgramFolder(EXE, encoding=RUNNER.log_encoding)
        self.addCleanup(self.folder.cleanup)
        self.cwd = pathlib.Path(tempfile.mkdtemp(prefix="pinemail-cwd-"))
        self.addCleanup(shutil.rmtree, self.cwd, ignore_errors=True)

    def run_in_cwd(self, *args, env=None):
        return RUNNER.run(self.folder, args, cwd=str(self.cwd), env=env)

    def fill(self, home):
        for name, text in (("pinemail.ini", SETTINGS), ("list.txt", LIST),
                           ("newyear.txt", TEMPLATE)):
            (home / name).write_bytes(harness.crlf(text).encode(RUNNER.log_encoding))

    def assert_ran_in(self, home):
        log = harness.mask_dates((home / "pinemail.log").read_bytes().decode(RUNNER.log_encoding))
        self.assertEqual(log_block(*CREDENTIALS,
                                   *record_lines("tanaka@example.jp", "田中 一郎", "newyear.txt"),
                                   *sent_lines("あけましておめでとう"),
                                   *record_lines("sato@example.jp", "", "newyear.txt"),
                                   *REJECTED_LINES), log)
        self.assertEqual(1, len(list((home / "outbox").glob("*.eml"))))
        self.assertEqual([self.folder.exe.name], [p.name for p in self.folder.path.iterdir()])

    def test_a_relative_home_means_the_current_folder_and_is_made_for_a_run(self):
        home = self.cwd / "a" / "b" / "home"
        # The help needs no home: nothing is made for it.
        self.assertEqual(0, self.run_in_cwd("--home", "a/b/home").status)
        self.assertFalse((self.cwd / "a").exists())
        # A run makes it (and its parents), then finds no list there.
        missing = self.run_in_cwd("--home", "a/b/home", "list.txt")
        self.assertEqual(2, missing.status)
        self.assertTrue(home.is_dir())
        if not isinstance(RUNNER, harness.WineRunner):
            self.assertIn(str(home / "list.txt"), missing.stderr.decode())
            for folder in (self.cwd / "a", self.cwd / "a" / "b", home):
                self.assertEqual(0o700, folder.stat().st_mode & 0o777, folder)
        self.fill(home)
        self.assertEqual(1, self.run_in_cwd("--home", "a/b/home", "list.txt").status)
        self.assert_ran_in(home)

    def test_the_variable_names_the_home_and_the_option_wins_over_it(self):
        home = self.cwd / "env-home"
        home.mkdir()
        self.fill(home)
        env = {"PINEMAIL_HOME": RUNNER.path_of(home)}
        self.assertEqual(1, self.run_in_cwd("list.txt", env=env).status)
        self.assert_ran_in(home)
        (self.cwd / "option-home").mkdir()
        self.fill(self.cwd / "option-home")
        self.assertEqual(1, self.run_in_cwd("--home=option-home", "list.txt", env=env).status)
        self.assert_ran_in(self.cwd / "option-home")
        self.assertEqual(1, len(list((home / "outbox").glob("*.eml"))))

    def test_a_home_that_is_no_folder_is_an_open_failure(self):
        plain = self.cwd / "plain"
        plain.write_bytes(b"x")
        result = self.run_in_cwd("--home", RUNNER.path_of(plain), RUNNER.path_of(plain))
        self.assertEqual(2, result.status)
        self.assertEqual(b"x", plain.read_bytes())
        self.assertEqual([self.folder.exe.name], [p.name for p in self.folder.path.iterdir()])
        if not isinstance(RUNNER, harness.WineRunner):
            lines = result.stderr.decode().splitlines()
            self.assertEqual("指定ファイルのオープンに失敗しました。", lines[0])
            self.assertTrue(lines[1].startswith(f"{plain}: "), lines)


# The first message a run hands over waits until the file "go" appears beside
# this stand-in; later messages (another run's) pass at once.
HOLDING_SENDMAIL = """#!/bin/sh
here=$(dirname "$0")
if mkdir "$here/held" 2>/dev/null; then
  while [ ! -e "$here/go" ]; do sleep 0.05; done
fi
cat > /dev/null
"""


@unittest.skipIf("--wine" in sys.argv, "POSIX only: sendmail, file size limits")
class FaultTest(unittest.TestCase):
    """Two runs at once in one program folder, and a disk that fills."""

    def setUp(self):
        self.folder = harness.ProgramFolder(EXE)
        self.addCleanup(self.folder.cleanup)
        self.folder.write_text("newyear.txt", TEMPLATE)

    def wait_for(self, condition, what):
        deadline = time.monotonic() + 120
        while not condition():
            if time.monotonic() > deadline:
                self.fail("never happened: " + what)
            time.sleep(0.05)

    def test_a_second_run_finds_the_log_in_use_and_writes_nothing(self):
        sendmail = self.folder.file("sendmail")
        sendmail.write_text(HOLDING_SENDMAIL)
        sendmail.chmod(0o755)
        self.folder.write_text("pinemail.ini", SETTINGS.replace("outbox:outbox",
                                                                f"sendmail:{sendmail}"))
        self.folder.write_text("list.txt", "pinemail.exe\na@example.jp,A,newyear.txt\n"
                                           "b@example.jp,B,newyear.txt\n")
        first = RUNNER.start(self.folder, ["list.txt"])
        self.addCleanup(lambda: first.poll() is None and first.kill())
        self.wait_for(lambda: self.folder.exists("held"), "the first run's first send")
        while_held = self.folder.log()
        second = RUNNER.run(self.folder, ("list.txt",))
        self.folder.file("go").touch()
        first.communicate(timeout=120)

        self.assertEqual(2, second.status)
        self.assertEqual(["指定ファイルのオープンに失敗しました。",
                          f"{self.folder.file('pinemail.log')}: 別の実行が使用中です"],
                         second.stderr.decode("utf-8").splitlines())
        self.assertEqual(log_block(*CREDENTIALS), while_held)
        self.assertEqual(0, first.returncode)
        self.assertEqual(log_block(*CREDENTIALS,
                                   *record_lines("a@example.jp", "A", "newyear.txt"),
                                   *sent_lines("あけましておめでとう"),
                                   *record_lines("b@example.jp", "B", "newyear.txt"),
                                   *sent_lines("あけましておめでとう")),
                         self.folder.log())

    def test_a_block_the_disk_cannot_take_whole_is_taken_back(self):
        self.folder.write_text("pinemail.ini", SETTINGS)
        self.folder.write_text("list.txt", "pinemail.exe\n" + "".join(
            f"r{i}@example.jp,R{i},newyear.txt\n" for i in range(5)))
        earlier = b"an earlier run\r\n" * 1000
        self.folder.write_bytes("pinemail.log", earlier)
        blocks = [log_block(*CREDENTIALS)] + [
            "".join(line + "\r\n" for line in record_lines(f"r{i}@example.jp", f"R{i}",
                                                           "newyear.txt")
                    + sent_lines("あけましておめでとう")) for i in range(5)]
        # Files may grow only to 40 bytes into the second record's block: the
        # write fails there as on a full disk (EFBIG in place of ENOSPC).
        fits = len(earlier) + len("".join(blocks[:2]).encode())

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (fits + 40, resource.RLIM_INFINITY))

        result = RUNNER.run(self.folder, ("list.txt",), preexec_fn=limit_file_size)
        self.assertEqual(2, result.status)
        warning = result.stderr.decode("utf-8").splitlines()
        self.assertTrue(warning[1].startswith(f"{self.folder.file('pinemail.log')}: "), warning)
        cut = earlier.decode() + "".join(blocks[:2])
        # Decoded leniently: half a block may end inside a character.
        log = self.folder.read_bytes("pinemail.log").decode("utf-8", "replace")
        self.assertEqual(cut, harness.mask_dates(log))

        # The next run's header starts on a line of its own after whole blocks.
        self.assertEqual(0, RUNNER.run(self.folder, ("list.txt",)).status)
        self.assertEqual(cut + "".join(blocks), self.folder.log())


@unittest.skipIf("--wine" in sys.argv, "the warning and the help are windows under Wine")
class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.ProgramFolder(EXE)
        self.addCleanup(self.folder.cleanup)
        self.folder.write_text("pinemail.ini", SETTINGS)
        self.folder.file("pinemail.ini").chmod(0o600)  # it holds a password
        self.folder.write_text("list.txt", LIST)
        self.folder.write_text("newyear.txt", TEMPLATE)

    def assert_help_only(self, result):
        text = result.stdout.decode("utf-8")
        self.assertIn("年賀メール一括送信", text)
        self.assertIn("pinemail.ini", text)
        self.assertNotIn("\r", text)
        self.assertFalse(self.folder.exists("pinemail.log"))

    def test_help_asked(self):
        home = self.folder.file("home")  # named: a run would make it
        for args in ((), ("list.txt", "/h"), ("/h",), ("/H",), ("-h",)):
            with self.subTest(args=args):
                result = RUNNER.run(self.folder, args, env={"PINEMAIL_HOME": RUNNER.path_of(home)})
                self.assertEqual(0, result.status)
                self.assert_help_only(result)
                self.assertEqual(b"", result.stderr)
                self.assertFalse(home.exists())

    @unittest.skipIf("--wine" in sys.argv, "POSIX file modes")
    def test_a_secret_others_may_read_is_named_and_narrowed_when_written(self):
        settings = self.folder.file("pinemail.ini")
        # With every key there the file is only read; a missing one is written.
        for missing, warned, mode in (("", True, 0o644), ("Subst Key Word=NAME,KEN,GOBI\n", False,
                                                          0o600)):
            settings.write_text(SETTINGS.replace(missing, ""))
            settings.chmod(0o644)
            _, shown = harness.run_on_terminal([str(self.folder.exe), "list.txt"], RUNNER.env)
            self.assertEqual(warned, "ほかのユーザーも読めます" in shown.decode("utf-8"), shown)
            self.assertEqual(mode, settings.stat().st_mode & 0o777)

    def test_missing_list_shows_help_and_fails(self):
        self.folder.file("pinemail.ini").unlink()
        result = RUNNER.run(self.folder, ("nothere.txt",))
        self.assertEqual(2, result.status)
        self.assert_help_only(result)
        self.assertIn(str(self.folder.file("nothere.txt")), result.stderr.decode("utf-8"))
        self.assertFalse(self.folder.exists("pinemail.ini"))

    def test_terminal_shows_progress_and_a_summary(self):
        status, shown = harness.run_on_terminal([str(self.folder.exe), "list.txt"], RUNNER.env,
                                                cwd="/")
        self.assertEqual(1, status)
        # The progress line with the list's total (a quick run is over before
        # it is redrawn), then the summary with the time taken and the log's
        # path.
        screen = harness.Screen(shown, 80)
        self.assertTrue(screen.states[0].startswith("0/2 件処理"), screen.states)
        self.assertEqual([], screen.escapes)
        last = screen.lines[-1]
        self.assertRegex(last, r"^完了　2/2 件処理　送信 1　不備 1　送信失敗 0　経過 \d+ 秒　ログ: ")
        self.assertTrue(last.endswith(str(self.folder.file("pinemail.log"))), last)

    def test_open_failure_warns_with_the_path(self):
        self.folder.file("pinemail.log").mkdir()
        result = RUNNER.run(self.folder, ("list.txt",))
        self.assertEqual(2, result.status)
        lines = result.stderr.decode("utf-8").splitlines()
        self.assertEqual("指定ファイルのオープンに失敗しました。", lines[0])
        self.assertTrue(lines[1].startswith(str(self.folder.file("pinemail.log")) + ": "),
                        lines)
        self.assertEqual(2, len(lines))
        self.assertFalse(self.folder.exists("outbox"))


DAY = 24 * 60 * 60
FIVE = "pinemail.exe\n" + "".join(f"r{i}@example.jp,宛{i},newyear.txt,名{i}\n" for i in range(5))


def minute_text(epoch):  # local "H:MM", rounded up to the minute
    local = time.localtime(-(-epoch // 60) * 60)
    return f"{local.tm_hour}:{local.tm_min:02d}"


class ClockTest(unittest.TestCase):
    """Runs of `/at` and "Daily Limit" on a wall clock the test sets."""

    setUp, prepare, run_program = BatchTest.setUp, BatchTest.prepare, BatchTest.run_program

    def set_clock(self, epoch):  # the program's clock reads `epoch` now
        self.folder.write_text("clock.tmp", str(round(epoch - time.time())))
        os.replace(self.folder.file("clock.tmp"), self.folder.file("clock"))

    def run_clocked(self, *args, epoch=DAY * 20000 + 7):
        self.set_clock(epoch)
        clock = {"PINEMAIL_CLOCK_FILE": RUNNER.path_of(self.folder.file("clock"))}
        return self.run_program(*args, env=clock, timeout=60)

    def sent_times(self):
        lines = self.folder.read_bytes("pinemail.journal").decode().splitlines()
        return [int(line.split("\t")[6]) for line in lines if line.split("\t")[1] == "sent"]

    def test_a_time_that_passed_or_cannot_be_read_and_a_failed_sign_on_stop_at_once(self):
        ahead = minute_text(DAY * 20000 + 600)
        for settings, option, line in [
                (SETTINGS, "/at 2000-01-01T00:00", "(/at の時刻 2000-01-01T00:00 は過ぎています)"),
                (SETTINGS, "/AT 24:00", "(/at の時刻は 0:00 か 2027-01-01T00:00 の形で"),
                (SETTINGS, "/at 2027-02-29T00:00", "(/at の日付がありません: 2027-02-29T00:00)"),
                (SETTINGS.replace("outbox:outbox", "nonsense"), f"/at {ahead}", "ログインに失敗")]:
            with self.subTest(option=option):
                self.prepare(settings=settings)
                self.folder.file("pinemail.log").unlink(missing_ok=True)
                self.assertEqual(2, self.run_clocked("list.txt", *option.split()).status)
                self.assertIn(line, self.folder.log())
                self.assertEqual([], self.folder.messages())

    def test_daily_limit_stops_the_run_and_a_resume_after_a_day_sends_the_rest(self):
        self.prepare(settings=SETTINGS + "Daily Limit= 3\n", listing=FIVE)
        self.assertEqual(2, self.run_clocked("list.txt").status)
        first = self.sent_times()
        self.assertEqual(3, len(first))
        self.assertEqual(3, self.folder.log().count("メッセージ送信"))
        self.assertIn(f"送信を中断しました。(1日の送信上限 3 通に達しました。"
                      f"{minute_text(first[0] + DAY)} 以降に /resume で続きを送れます)",
                      self.folder.log())
        # Counted across runs: within the day a resumed run sends nothing.
        for epoch, status, sent in [(first[0] + DAY - 60, 2, 3), (first[-1] + DAY + 2, 0, 5)]:
            self.assertEqual(status, self.run_clocked("list.txt", "/resume", epoch=epoch).status)
            self.assertEqual(sent, len(self.folder.messages()))

    @unittest.skipIf("--wine" in sys.argv, "a terminal of its own on POSIX only")
    def test_at_waits_for_its_time_then_for_room_in_the_day_holding_the_log(self):
        # A day's limit filled by a first run; the second starts within that day.
        self.prepare(settings=SETTINGS + "Daily Limit=3\n", listing=FIVE)
        self.assertEqual(2, self.run_clocked("list.txt").status)
        first = self.sent_times()
        full_until = first[-1] + DAY + 2
        start = (full_until - 3600) // 60 * 60
        self.set_clock(start - 600)
        moves = {"に送信を始めます": start + 1, "に再開します": full_until}

        def watch(shown):
            for text, epoch in list(moves.items()):
                if text.encode() in shown:
                    # Waiting: nothing sent, and the log is held.
                    self.assertEqual(3, len(self.folder.messages()))
                    self.assertEqual(2, self.run_program("list.txt").status)
                    self.set_clock(moves.pop(text))

        env = dict(RUNNER.env, PINEMAIL_CLOCK_FILE=str(self.folder.file("clock")))
        status, shown = harness.run_on_terminal(
            [str(self.folder.exe), "list.txt", "/resume", "--at", minute_text(start)], env,
            columns=200, watch=watch)
        self.assertEqual((0, {}), (status, moves), shown.decode())
        self.assertIn(f"{minute_text(first[0] + DAY)} に再開します", shown.decode())
        self.assertEqual(5, len(self.folder.messages()))
        self.assertTrue(all(sent >= full_until - 2 for sent in self.sent_times()[3:]))


def main():
    global EXE, RUNNER
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    args, rest = parser.parse_known_args()
    EXE = args.exe
    RUNNER = harness.WineRunner() if args.wine else harness.NativeRunner()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
