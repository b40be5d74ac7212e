"""Black-box checks of the program's observable rules, one group per file
format: the list's line and field rules, the template reader, the keyword
scan, the settings file and the start-up decision. Every check runs the
built executable in a scratch program folder and compares the run log, the
settings file and the outbox messages byte for byte.

Usage: test_conformance.py --exe PATH [--wine] [unittest options]
(--wine: the Windows build under Wine, text files in code page 932.)
"""

import argparse
import os
import sys
import unittest

import harness
from harness import (BANNER, EQUALS, REJECTED_LINES, log_block, record_lines,
                     sent_lines)

EXE = None
RUNNER = None

OUTBOX = "Mail Server=outbox:outbox\nFrom=taro@example.jp\n"
CREDENTIALS = ("User Name: taro", "Password : **", "")
WARNING = "指定ファイルのオープンに失敗しました。"


def settings(keywords="NAME,KEN,GOBI", extra=""):
    return f"[Config]\nUser Name=taro\nPassword=pw\nSubst Key Word={keywords}\n{OUTBOX}{extra}"


class ProgramTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.ProgramFolder(EXE, encoding=RUNNER.log_encoding)
        self.addCleanup(self.folder.cleanup)

    def encode(self, text):
        return text.encode(self.folder.encoding)

    def write(self, name, data):
        if isinstance(data, bytes):
            self.folder.write_bytes(name, data)
        else:
            self.folder.write_text(name, data)

    def run_list(self, listing, template=None, ini=None, args=("list.txt",)):
        """One fresh run: no log and no outbox left from an earlier one."""
        for name in ("pinemail.log",):
            if self.folder.file(name).is_file():
                self.folder.file(name).unlink()
        for old in self.folder.file("outbox").glob("*.eml"):
            old.unlink()
        self.write("pinemail.ini", ini if ini is not None else settings())
        self.write("list.txt", listing)
        if template is not None:
            self.write("t.txt", template)
        return RUNNER.run(self.folder, args)

    def bodies(self):
        """The message texts without the banner."""
        texts = []
        for message in self.folder.messages():
            text = message.get_content()
            self.assertTrue(text.startswith(BANNER), text)
            texts.append(text[len(BANNER):])
        return texts


class ListRulesTest(ProgramTest):
    def test_records_blank_and_comment_lines_and_fields(self):
        listing = (b"my pinemail.exe list\r\n"
                   b"#comment\r\n"
                   b"   \r\n"
                   + self.encode("\u3000 #ideographic blank before the mark\r\n\u3000\r\n")
                   + b"  a@example.jp, Sato Hanako ,t.txt,Sato,\"Osaka\"  \r\n"
                   b"\t#tab is no blank\r\n"
                   b"b@example.jp,B#2,t.txt,x,y,z,surplus\r"
                   b"c@example.jp,C,t.txt,\r\n"
                   b"d@example.jp,D\r\n"
                   b",E,t.txt\r\n"
                   b"f@example.jp,,t.txt\r\n"
                   b"g@example.jp,G,missing.txt\r\n"
                   b"h@example.jp,H, t.txt")
        result = self.run_list(listing, template="S\n\n[%NAME%][%KEN%][%GOBI%]\n")
        self.assertEqual(1, result.status, result.stderr)
        expected = log_block(
            *CREDENTIALS,
            *record_lines("a@example.jp", " Sato Hanako ", "t.txt"), *sent_lines("S"),
            # A record, not a comment; its tab is logged as a blank, like every control.
            *record_lines(" #tab is no blank", "", ""), *REJECTED_LINES,
            *record_lines("b@example.jp", "B#2", "t.txt"), *sent_lines("S"),
            *record_lines("c@example.jp", "C", "t.txt"), *sent_lines("S"),
            *record_lines("d@example.jp", "D", ""), *REJECTED_LINES,
            *record_lines("", "E", "t.txt"), *REJECTED_LINES,
            *record_lines("f@example.jp", "", "t.txt"), *REJECTED_LINES,
            *record_lines("g@example.jp", "G", "missing.txt"), *REJECTED_LINES,
            *record_lines("h@example.jp", "H", " t.txt"), *REJECTED_LINES)
        self.assertEqual(expected, self.folder.log())
        # The line's trailing blanks go, the field's quotes stay; missing
        # values are empty and surplus ones are ignored.
        self.assertEqual(["[Sato][\"Osaka\"][]\r\n", "[x][y][z]\r\n", "[][][]\r\n"],
                         self.bodies())

    def test_first_line_and_line_ends(self):
        cases = {
            # A lone LF does not end a line: one line, refused as such.
            b"pinemail.exe\na@example.jp,A,t.txt\n":
                (2, "指定のファイルの改行が LF だけです。改行を CR LF にして保存してください。"),
            # A lone CR does.
            b"pinemail.exe\ra@example.jp,A,t.txt": (0, ["a@example.jp"]),
            # The mark anywhere in line 1, not in a later line, in this case only.
            b"x pinemail.exe\r\n": (0, []),
            b"list\r\npinemail.exe\r\n": (2, None),
            b"PineMail.exe\r\n": (2, None),
            b"\r\n": (2, None),
        }
        for listing, (status, sent_to) in cases.items():
            with self.subTest(listing=listing):
                result = self.run_list(listing, template="S\n\nb\n")
                self.assertEqual(status, result.status, result.stderr)
                if sent_to is None:
                    self.assertEqual(log_block(
                        "指定のファイルは pinemail.exe 用であるとは認識できませんでした。", ""),
                        self.folder.log())
                elif isinstance(sent_to, str):  # the log's one line, nothing sent
                    self.assertEqual(log_block(sent_to, ""), self.folder.log())
                else:
                    self.assertTrue(self.folder.log().startswith(log_block(*CREDENTIALS)))
                    self.assertEqual(sent_to, [m["To"].addresses[0].addr_spec
                                               for m in self.folder.messages()])


class TemplateTest(ProgramTest):
    def sent(self, template):
        """Runs one record over `template`: (status, subject or None, body or None)."""
        result = self.run_list("pinemail.exe\na@example.jp,A,t.txt,V\n", template=template)
        log = self.folder.log()
        messages = self.folder.messages()
        if not messages:
            self.assertTrue(log.endswith("\r\n".join(REJECTED_LINES) + "\r\n"), log)
            return result.status, None, None
        subject = messages[0]["Subject"]
        self.assertIn("\r\n".join(sent_lines(subject)), log)
        return result.status, subject, self.bodies()[0]

    def test_subject_separator_and_body(self):
        long_subject = "".join(chr(0x3042 + i % 40) for i in range(70))
        cases = [
            (self.encode(long_subject + "\r\n\r\nb"), (0, long_subject[:63], "b\r\n")),
            (b"x" * 63 + b"\r\n\r\n", (0, "x" * 63, "")),
            # Line 2 is dropped whatever it holds; the subject is not substituted.
            (b"%NAME%\r\n%NAME%\r\n%NAME%", (0, "%NAME%", "V\r\n")),
            # Lines are kept as read: blanks, a lone LF; a lone CR ends a line.
            (b"S\r\n\r\n  a\nb  \rc\r\n\r\n", (0, "S", "  a\nb  \r\nc\r\n\r\n")),
            (b"S\r\n\r\n\r\n", (0, "S", "\r\n")),
            (b"S\r\nsecond", (0, "S", "")),
            (b"S\r\n", (1, None, None)),
            (b"S\nX\nbody\n", (1, None, None)),
            (b"", (1, None, None)),
        ]
        for template, expected in cases:
            with self.subTest(template=template[:30]):
                self.assertEqual(expected, self.sent(template))

    def test_a_folder_is_no_template(self):
        self.folder.file("t.txt").mkdir()
        self.assertEqual((1, None, None), self.sent(None))

    def test_only_regular_files_up_to_a_mebibyte_are_templates(self):
        # A device never ends and a FIFO holds whoever opens it until someone
        # writes: each is an unusable template, and the run goes on.
        largest = b"S\r\n\r\n" + b"b" * (1024 * 1024 - 5)
        self.write("largest.txt", largest)
        self.write("larger.txt", largest + b"b")
        os.symlink("/dev/zero", self.folder.file("zero.txt"))
        os.mkfifo(self.folder.file("fifo.txt"))
        unusable = ["larger.txt", "zero.txt", "fifo.txt"]
        listing = "pinemail.exe\n" + "".join(f"a@example.jp,A,{name}\n" for name in unusable)
        result = self.run_list(listing + "b@example.jp,B,largest.txt\n")
        self.assertEqual(1, result.status, result.stderr)
        rejected = [line for name in unusable
                    for line in record_lines("a@example.jp", "A", name) + REJECTED_LINES]
        self.assertEqual(log_block(*CREDENTIALS, *rejected,
                                   *record_lines("b@example.jp", "B", "largest.txt"),
                                   *sent_lines("S")), self.folder.log())
        self.assertEqual(["b" * (1024 * 1024 - 5) + "\r\n"], self.bodies())


class KeywordTest(ProgramTest):
    def test_scan(self):
        cases = [
            ("NAME,KEN,GOBI", "Tanaka,Hokkaido,dabe",
             "%NAME%-san, how is the weather in %KEN% %GOBI%?",
             "Tanaka-san, how is the weather in Hokkaido dabe?"),
            ("NAME,KEN,GOBI", "Tanaka,Hokkaido,dabe", "50% off %NAME%", "50% off %NAME%"),
            # Inserted values are never scanned again.
            ("NAME,KEN,GOBI", "100%,%GOBI%,dabe", "%NAME% %KEN% %GOBI%", "100% %GOBI% dabe"),
            ("NAME,KEN", "x,y", "%%|%name%|%NAME", "%%|%name%|%NAME"),
            ("  NAME , KEN  ", "x,y", "%NAME%%KEN%", "xy"),
            ("\u3000NAME\u3000", "x", "%NAME%", "x"),
            ("NAME,,GOBI", "x,y,z", "%%|%NAME%|%GOBI%", "y|x|z"),
            ("A%B", "x", "%A%B%", "%A%B%"),
            ("NAME,NAME", "first,second", "%NAME%", "first"),
            ("", "x", "%NAME% kept", "%NAME% kept"),
            # A body without any percent sign comes out unchanged.
            ("NAME", "x", "no sign", "no sign"),
        ]
        for keywords, values, body, expected in cases:
            with self.subTest(keywords=keywords, body=body):
                result = self.run_list(f"pinemail.exe\na@example.jp,A,t.txt,{values}\n",
                                       template=f"S\n\n{body}\n",
                                       ini=settings(keywords=keywords))
                self.assertEqual(0, result.status, result.stderr)
                self.assertEqual([expected + "\r\n"], self.bodies())
                # The settings are read, never rewritten with the names.
                self.assertIn(self.encode(f"Subst Key Word={keywords}\r\n"),
                              self.folder.read_bytes("pinemail.ini"))


class SettingsTest(ProgramTest):
    LIST = "pinemail.exe\na@example.jp,A,t.txt,V\n"

    def test_keys_that_read_empty_are_rewritten_in_place(self):
        tail = OUTBOX.replace("\n", "\r\n").encode()
        ini = (b"; kept\r\n[Config]\r\nUser Name=  \r\nPassword=\"\"\r\n"
               b"Subst Key Word=''\r\n" + tail + "From2=山田\r\n".encode("cp932"))
        self.run_list(self.LIST, template="S\n\nb\n", ini=ini)
        self.assertEqual(b"; kept\r\n[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n"
                         + tail + "From2=山田\r\n".encode("cp932"),
                         self.folder.read_bytes("pinemail.ini"))
        self.assertTrue(self.folder.log().startswith(log_block("User Name: ", "Password : ", "")))

    def test_values_as_the_profile_reader_returns_them(self):
        # A value is cut after 510 bytes of the file's encoding.
        wide = 510 // len(self.encode("あ"))
        cases = [
            ("user name = \"taro \" \nPASSWORD= '秘密 x' \n", "taro ", "****"),
            ("User Name=" + "u" * 600 + "\nPassword=\"\"\n", "u" * 510, ""),
            ("User Name=" + "あ" * 300 + "\nPassword=ｱ\n", "あ" * wide, "*"),
        ]
        for values, user, mask in cases:
            with self.subTest(user=user[:10]):
                self.run_list(self.LIST, template="S\n\nb\n",
                              ini="[config]\n" + values + OUTBOX)
                self.assertTrue(self.folder.log().startswith(
                    log_block(f"User Name: {user}", f"Password : {mask}", "")),
                    self.folder.log())
                self.assertNotIn(self.encode("秘密"), self.folder.read_bytes("pinemail.log"))

    def test_only_exact_true_leaves_the_banner_out(self):
        for value, banner in (("TRUE", False), (" TRUE ", False), ("\"TRUE\"", False),
                              ("true", True), ("True", True), ("TRUE1", True),
                              ("ＴＲＵＥ", True), ("", True)):
            with self.subTest(value=value):
                self.run_list(self.LIST, template="S\n\n%NAME%\n",
                              ini=settings(extra=f"NO_INSERT_TEXT={value}\n"))
                text = self.folder.messages()[0].get_content()
                self.assertEqual((BANNER if banner else "") + "V\r\n", text)
        # The switch is never created.
        self.run_list(self.LIST, template="S\n\nb\n")
        self.assertNotIn(b"NO_INSERT_TEXT", self.folder.read_bytes("pinemail.ini"))

    @unittest.skipIf("--wine" in sys.argv, "without settings Windows sends through MAPI")
    def test_unreadable_settings_mean_empty_values(self):
        self.folder.file("pinemail.ini").mkdir()
        self.write("list.txt", self.LIST)
        self.write("t.txt", "S\n\nb\n")
        result = RUNNER.run(self.folder, ("list.txt",))
        # No sender and no mail server: the sign-on fails, with no empty line after it.
        self.assertEqual(2, result.status)
        self.assertEqual(log_block("User Name: ", "Password : ", "", "ログインに失敗しました。"
                                   "(送信者のアドレスがありません (From も User Name もアドレスではありません))"), self.folder.log())


@unittest.skipIf("--wine" in sys.argv, "POSIX start-up rules; the Wine suite checks Windows's")
class StartUpTest(ProgramTest):
    def setUp(self):
        super().setUp()
        self.write("pinemail.ini", settings())
        self.write("list.txt", "pinemail.exe\na@example.jp,A,t.txt\n")
        self.write("t.txt", "S\n\nb\n")

    def test_help_or_run(self):
        cases = [
            (("list.txt /H",), 0, False), (("list.txt", "x /hx"), 0, False),
            (("list.txt/h",), 2, False), (("list.txt", "\t/h"), 2, False),
            (("/H",), 0, False), (("\"list.txt\"",), 2, False), ((" list.txt",), 2, False),
            (("--help",), 0, False), (("list.txt",), 0, True),
            ((str(self.folder.file("list.txt")),), 0, True),
        ]
        for args, status, ran in cases:
            with self.subTest(args=args):
                if self.folder.exists("pinemail.log"):
                    self.folder.file("pinemail.log").unlink()
                result = RUNNER.run(self.folder, args)
                self.assertEqual(status, result.status, result.stderr)
                self.assertEqual(ran, self.folder.exists("pinemail.log"))
                self.assertEqual(not ran, b"pinemail.ini" in result.stdout)

    @unittest.skipIf(os.access("/proc/sys/vm/drop_caches", os.R_OK),
                     "needs a regular file that cannot be opened for reading")
    def test_a_list_that_cannot_be_opened(self):
        result = RUNNER.run(self.folder, ("/proc/sys/vm/drop_caches",))
        self.assertEqual(2, result.status)
        lines = result.stderr.decode("utf-8").splitlines()
        self.assertEqual(WARNING, lines[0])
        self.assertTrue(lines[1].startswith("/proc/sys/vm/drop_caches: "), lines)
        # The log is opened first and left behind empty; nothing is written.
        self.assertEqual(b"", self.folder.read_bytes("pinemail.log"))
        self.assertFalse(self.folder.exists("outbox"))


@unittest.skipUnless("--wine" in sys.argv, "Windows start-up rules")
class WindowsStartUpTest(ProgramTest):
    def setUp(self):
        super().setUp()
        self.write("pinemail.ini", settings())
        self.write("t.txt", "S\n\nb\n")

    def run_args(self, *args):
        if self.folder.exists("pinemail.log"):
            self.folder.file("pinemail.log").unlink()
        return RUNNER.run(self.folder, args)

    def test_slash_h_alone_names_a_file_h_else_asks_for_help(self):
        # No blank before the slash: the program folder's file H is the list;
        # without one, the help was meant.
        for args in ("/H", "/h"):
            self.assertEqual(0, self.run_args(args).status)
            self.assertFalse(self.folder.exists("pinemail.log"))
        self.write("H", "pinemail.exe\na@example.jp,A,t.txt\n")
        self.assertEqual(0, self.run_args("/h").status)
        self.assertIn("メッセージ送信", self.folder.log())

    def test_hidden_or_system_lists_are_not_found(self):
        for flag in ("+h", "+s"):
            with self.subTest(flag=flag):
                self.write("list.txt", "pinemail.exe\na@example.jp,A,t.txt\n")
                attrib = harness.subprocess.run(
                    [str(harness.REPO / "cmake" / "wine-run"), "cmd.exe", "/c", "attrib", flag,
                     RUNNER.path_of(self.folder.file("list.txt"))],
                    env=RUNNER.env, stdin=harness.subprocess.DEVNULL, capture_output=True)
                self.assertEqual(0, attrib.returncode, attrib.stderr)
                self.assertEqual(2, self.run_args("list.txt").status)
                self.assertFalse(self.folder.exists("pinemail.log"))
                self.folder.file("list.txt").unlink()

    def test_a_wildcard_passes_the_test_but_cannot_be_opened(self):
        self.write("list.txt", "pinemail.exe\na@example.jp,A,t.txt\n")
        self.assertEqual(2, self.run_args("l*.txt").status)
        # The log was opened first: left behind empty, nothing written.
        self.assertEqual(b"", self.folder.read_bytes("pinemail.log"))
        self.assertFalse(self.folder.exists("outbox"))


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
