"""The Debian package: made by scripts/package-deb, unpacked into a scratch
root with dpkg-deb, and its binary run from there by a user who cannot write
beside it (root runs it as "nobody": root could write anywhere).

Usage: test_deb.py --script PATH [unittest options]
Exits 77 (skipped) only when the packaging tools are missing.
"""

import argparse
import gzip
import os
import pathlib
import pty
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOLS = ("dpkg-deb", "dpkg-shlibdeps", "file", "lintian", "man")
ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = None
AS_ROOT = os.geteuid() == 0
NOBODY = 65534  # nobody / nogroup on Debian

SETTINGS = ("[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=NAME\r\n"
            "Mail Server=outbox:outbox\r\nFrom=山田 太郎 <taro@example.jp>\r\n")
LIST = "pinemail.exe\r\na@example.jp,A,newyear.txt,Aさん\r\n"
TEMPLATE = "謹賀新年\r\n\r\n%NAME%、あけましておめでとう\r\n"
CREATED_SETTINGS = b"[Config]\r\nUser Name=\r\nPassword=\r\nSubst Key Word=\r\n"


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        made = subprocess.run([SCRIPT], capture_output=True, text=True, timeout=1800)
        if made.returncode != 0:
            raise AssertionError("scripts/package-deb failed:\n" + made.stderr)
        cls.deb = made.stdout.splitlines()[-1]
        cls.root = pathlib.Path(tempfile.mkdtemp(prefix="pinemail-deb-"))
        cls.root.chmod(0o755)  # the user must reach the binary
        subprocess.run(["dpkg-deb", "-x", cls.deb, str(cls.root / "pkg")], check=True)
        cls.bin = cls.root / "pkg" / "usr" / "bin"
        cls.bin.chmod(0o555)  # as installed: not the user's to write

    @classmethod
    def tearDownClass(cls):
        cls.bin.chmod(0o755)
        shutil.rmtree(cls.root, ignore_errors=True)

    def user_folder(self, name):
        """A folder of the user's own, removed after the test."""
        folder = self.root / name
        folder.mkdir()
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        self.give(folder)
        return folder

    def give(self, path):
        if AS_ROOT:
            os.chown(path, NOBODY, NOBODY)

    def write(self, path, text):
        if not path.parent.exists():
            path.parent.mkdir()
            self.give(path.parent)
        path.write_bytes(text.encode())
        self.give(path)

    def run_installed(self, args, home, env=None, stderr=subprocess.PIPE):
        """Runs the unpacked /usr/bin/pinemail as the user whose home is `home`."""
        run_env = {"PATH": "/usr/bin:/bin", "HOME": str(home), "LC_ALL": "C.UTF-8"}
        run_env.update(env or {})
        as_user = {"user": NOBODY, "group": NOBODY, "extra_groups": []} if AS_ROOT else {}
        return subprocess.run([str(self.bin / "pinemail"), *args], env=run_env, cwd=home,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr,
                              timeout=120, **as_user)

    def run_on_terminal(self, args, home):
        """Runs it with standard error on a terminal; returns the status and what it showed."""
        main, secondary = pty.openpty()
        done = self.run_installed(args, home, stderr=secondary)
        os.close(secondary)
        shown = b""
        with os.fdopen(main, "rb", buffering=0) as terminal:
            while True:
                try:
                    chunk = terminal.read(4096)
                except OSError:  # the other end is closed
                    break
                if not chunk:
                    break
                shown += chunk
        return done.returncode, shown.decode()

    def assert_nothing_beside_the_binary(self):
        self.assertEqual(["pinemail"], [p.name for p in self.bin.iterdir()])

    def test_contents_dependencies_and_lintian(self):
        fields = {field: subprocess.run(["dpkg-deb", "-f", self.deb, field], check=True,
                                        capture_output=True, text=True).stdout.strip()
                  for field in ("Depends", "Recommends")}
        self.assertIn("libcurl4", fields["Depends"])
        self.assertNotIn("gtk", fields["Depends"])
        self.assertEqual("libgtk-3-0", fields["Recommends"])
        pkg = self.root / "pkg"
        for path in ("usr/share/man/man1/pinemail.1.gz", "usr/share/doc/pinemail/copyright",
                     "usr/share/doc/pinemail/README.md",
                     "usr/share/doc/pinemail/examples/list.txt",
                     "usr/share/doc/pinemail/examples/pinemail.ini"):
            self.assertTrue((pkg / path).is_file(), path)
        described = subprocess.run(["file", "-b", str(self.bin / "pinemail")], check=True,
                                   capture_output=True, text=True).stdout
        self.assertIn(", stripped", described)

        lintian = subprocess.run(["lintian", self.deb], capture_output=True, text=True)
        print("\nlintian:\n" + lintian.stdout, file=sys.stderr)
        self.assertEqual(0, lintian.returncode, lintian.stdout + lintian.stderr)
        self.assertEqual([], [line for line in lintian.stdout.splitlines()
                              if line.startswith("E:")])

    def test_copyright_file_grants_the_licence_and_one_maintainer_signs(self):
        from debian import copyright  # python3-debian's machine-readable copyright parser
        doc = self.root / "pkg" / "usr" / "share" / "doc" / "pinemail"
        with open(doc / "copyright", encoding="utf-8") as text:
            parsed = copyright.Copyright(text, strict=True)
        ours = parsed.find_files_paragraph("src/app/main_posix.cpp")
        self.assertEqual("Expat", ours.license.synopsis)
        # The same grant as LICENSE at the root, word for word.
        words = lambda text: text.replace("\n.\n", "\n").split()
        granted = (ROOT / "LICENSE").read_text().split("Permission is hereby", 1)[1]
        self.assertEqual(words("Permission is hereby" + granted), words(ours.license.text))

        maintainer = subprocess.run(["dpkg-deb", "-f", self.deb, "Maintainer"], check=True,
                                    capture_output=True, text=True).stdout.strip()
        changelog = gzip.decompress((doc / "changelog.Debian.gz").read_bytes()).decode()
        self.assertIn(f"\n -- {maintainer}  ", changelog)

    def test_the_manual_page_renders(self):
        page = self.root / "pkg" / "usr" / "share" / "man" / "man1" / "pinemail.1.gz"
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANPAGER="cat", PAGER="cat")
        shown = subprocess.run(["man", "--warnings", "-l", str(page)], env=env,
                               capture_output=True, text=True)
        self.assertEqual(0, shown.returncode, shown.stderr)
        self.assertEqual("", shown.stderr)  # no groff warning
        headings = [line for line in shown.stdout.splitlines() if line[:1].isupper()]
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "HOME FOLDER", "SETTINGS",
                        "LIST FILE", "TEMPLATE FILE", "LOG", "EXIT STATUS", "ENVIRONMENT",
                        "FILES", "EXAMPLES"):
            self.assertIn(heading, headings)

    def test_an_installed_binary_keeps_a_users_files_in_the_config_home(self):
        home = self.user_folder("user")
        self.write(home / "mail" / "list.txt", LIST)
        listing = str(home / "mail" / "list.txt")
        config = home / ".config" / "pinemail"
        # The first run creates the settings file to fill in, and logs there.
        first = self.run_installed([listing], home)
        self.assertEqual(2, first.returncode, first.stderr)
        self.assertEqual(CREATED_SETTINGS, (config / "pinemail.ini").read_bytes())
        self.assertIn("ログインに失敗しました。", (config / "pinemail.log").read_text())
        for folder in (home / ".config", config):
            self.assertEqual(0o700, folder.stat().st_mode & 0o777, folder)

        self.write(config / "pinemail.ini", SETTINGS)
        self.write(config / "newyear.txt", TEMPLATE)
        status, shown = self.run_on_terminal([listing], home)
        self.assertEqual(0, status, shown)
        self.assertEqual(f"ホームフォルダ: {config}", shown.splitlines()[0])
        self.assertEqual(1, len(list((config / "outbox").glob("*.eml"))))
        self.assertIn("メッセージ送信", (config / "pinemail.log").read_text())

        # $XDG_CONFIG_HOME moves it.
        xdg = {"XDG_CONFIG_HOME": str(home / "xdg")}
        self.assertEqual(2, self.run_installed([listing], home, env=xdg).returncode)
        self.assertEqual(CREATED_SETTINGS, (home / "xdg" / "pinemail" / "pinemail.ini").read_bytes())
        self.assert_nothing_beside_the_binary()

    def test_home_option_names_the_folder(self):
        home = self.user_folder("user")
        for name, text in (("pinemail.ini", SETTINGS), ("list.txt", LIST),
                           ("newyear.txt", TEMPLATE)):
            self.write(home / "nenga" / name, text)
        done = self.run_installed(["--home", "nenga", "list.txt"], home)
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertEqual(b"", done.stderr)  # not a terminal: nothing said
        self.assertIn("メッセージ送信", (home / "nenga" / "pinemail.log").read_text())
        self.assertEqual(1, len(list((home / "nenga" / "outbox").glob("*.eml"))))
        self.assertFalse((home / ".config").exists())
        self.assert_nothing_beside_the_binary()

    @unittest.skipUnless(AS_ROOT, "needs root to mount the package's /usr/bin")
    def test_root_running_the_installed_path_uses_its_config_home(self):
        # Root can write /usr/bin; the binary must still not put its files
        # there. A private mount namespace shows the package's /usr/bin as
        # /usr/bin to this one run.
        home = self.user_folder("root-home")
        self.write(home / "list.txt", LIST)
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                               capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no mount namespace here: " + probe.stderr.decode())
        done = subprocess.run(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c",
             'mount --bind "$0" /usr/bin && exec /usr/bin/pinemail "$@"', str(self.bin),
             str(home / "list.txt")],
            env={"PATH": "/usr/bin:/bin", "HOME": str(home), "LC_ALL": "C.UTF-8"},
            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(2, done.returncode, done.stderr)
        self.assertTrue((home / ".config" / "pinemail" / "pinemail.log").is_file())
        self.assert_nothing_beside_the_binary()


def main():
    global SCRIPT
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    args, rest = parser.parse_known_args()
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    try:
        import debian.copyright  # noqa: F401
    except ImportError:
        missing.append("python3-debian")
    if missing:
        print("SKIPPED: the packaging tools are missing: " + " ".join(missing)
              + " (./scripts/install-deps package installs them)")
        sys.exit(77)
    SCRIPT = args.script
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
