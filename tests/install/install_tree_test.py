#!/usr/bin/python3
"""cmake --install of a build into a temporary root (DESTDIR), checked as a desktop would see it.

The files in their freedesktop places; the desktop entry through desktop-file-validate; the
MIME package through update-mime-database and xdg-mime, by extension and by first line; the
association of both types with the desktop entry; the guide with every picture it shows; the
manual pages through man; and the installed programs: kelvane-cli sets up a connection and a
profile, and kelvane, started with that profile as the desktop starts it, synchronises it to a
real FTP server on loopback and leaves.

    install_tree_test.py --build BUILD_DIR
"""

import argparse
import html.parser
import logging
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

ARGS = None
PROFILE_TYPE = "application/x-kelvane-profile"
BATCH_TYPE = "application/x-kelvane-batch"

# What Kelvane's writers put first (Profile::write, BatchList::write), CR LF and all.
BATCH_TEXT = ("file_type=Kelvane_batch\r\nkelvane_version=1.06\r\nprofiles=\r\n"
              "/home/ann/sites/site.kvp\r\nend_profiles\r\n")


def cache_value(build, name):
    text = (Path(build) / "CMakeCache.txt").read_text(encoding="utf-8")
    found = re.search(rf"^{name}:\w+=(.*)$", text, re.MULTILINE)
    return found.group(1) if found else ""


def run(command, env=None, stdin=None, timeout=120):
    return subprocess.run(command, capture_output=True, text=True, env=env, input=stdin,
                          timeout=timeout, check=False)


class GuidePage(html.parser.HTMLParser):
    """The pictures, the link targets and the ids of one page."""

    def __init__(self):
        super().__init__()
        self.pictures, self.links, self.ids = [], [], set()

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        if "id" in attributes:
            self.ids.add(attributes["id"])
        if tag == "img":
            self.pictures.append(attributes.get("src", ""))
        if tag == "a" and "href" in attributes:
            self.links.append(attributes["href"])


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="kelvane-install-"))
        cls.root = cls.work / "root"
        env = dict(os.environ, DESTDIR=str(cls.root))
        result = run(["cmake", "--install", ARGS.build, "--prefix", "/usr"], env=env, timeout=300)
        if result.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{result.stdout}{result.stderr}")
        cls.usr = cls.root / "usr"
        cls.share = cls.usr / "share"
        cls.version = cache_value(ARGS.build, "CMAKE_PROJECT_VERSION")
        # The desktop tools look only here: not at this machine's own data or the user's.
        cls.desktop_env = dict(os.environ, XDG_DATA_DIRS=f"{cls.share}:/usr/share",
                               XDG_DATA_HOME=str(cls.work / "data-home"))
        cls.desktop_env.pop("XDG_CURRENT_DESKTOP", None)
        cls.desktop_env.pop("DESKTOP_SESSION", None)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def installed(self, relative):
        path = self.usr / relative
        self.assertTrue(path.is_file(), f"/usr/{relative} is not installed")
        return path

    def test_every_file_is_in_its_freedesktop_place(self):
        for relative in ["bin/kelvane", "bin/kelvane-cli",
                         "share/applications/kelvane.desktop",
                         "share/mime/packages/kelvane.xml",
                         "share/icons/hicolor/scalable/apps/kelvane.svg",
                         "share/icons/hicolor/scalable/mimetypes/application-x-kelvane-profile.svg",
                         "share/icons/hicolor/scalable/mimetypes/application-x-kelvane-batch.svg",
                         "share/man/man1/kelvane.1", "share/man/man1/kelvane-cli.1",
                         "share/kelvane/guide/index.html"]:
            with self.subTest(relative):
                self.installed(relative)
        for program in ["bin/kelvane", "bin/kelvane-cli"]:
            self.assertTrue(os.access(self.usr / program, os.X_OK), program)
        # The caches belong to the package system of the machine the files end up on.
        self.assertFalse((self.share / "mime" / "mime.cache").exists())
        self.assertFalse((self.share / "applications" / "mimeinfo.cache").exists())

    def test_the_desktop_entry_validates_and_opens_both_kinds_of_file(self):
        entry = self.installed("share/applications/kelvane.desktop")
        result = run(["desktop-file-validate", str(entry)])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout + result.stderr, "", "hints and warnings count too")
        fields = dict(line.split("=", 1) for line in entry.read_text().splitlines()
                      if "=" in line)
        self.assertEqual(fields["Exec"], "kelvane %f")
        self.assertEqual(set(filter(None, fields["MimeType"].split(";"))),
                         {PROFILE_TYPE, BATCH_TYPE})
        self.installed(f"share/icons/hicolor/scalable/apps/{fields['Icon']}.svg")

    def test_the_types_are_known_by_extension_and_by_first_line(self):
        mime = self.share / "mime"
        result = run(["update-mime-database", "-V", str(mime)])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("warning", result.stderr.lower() + result.stdout.lower())
        self.assertNotIn("error", result.stderr.lower() + result.stdout.lower())
        for kind in (PROFILE_TYPE, BATCH_TYPE):
            self.assertTrue((mime / f"{kind}.xml").is_file(), kind)

        files = self.work / "files"
        files.mkdir()
        profile = files / "site.kvp"
        made = run([str(self.usr / "bin/kelvane-cli"), "--config-dir", str(self.work / "cfg"),
                    "profile", "new", str(profile), "--local", str(files),
                    "--ftp", "FTP:site/www/"])
        self.assertEqual(made.returncode, 0, made.stderr)
        (files / "nightly.kvb").write_bytes(BATCH_TEXT.encode())
        shutil.copy(profile, files / "profile-without-extension")
        shutil.copy(files / "nightly.kvb", files / "batch-without-extension")
        (files / "empty.kvp").write_bytes(b"")
        (files / "empty.kvb").write_bytes(b"")
        (files / "CAPITALS.KVP").write_bytes(b"")
        expected = {
            "site.kvp": PROFILE_TYPE, "nightly.kvb": BATCH_TYPE,
            "profile-without-extension": PROFILE_TYPE, "batch-without-extension": BATCH_TYPE,
            "empty.kvp": PROFILE_TYPE, "empty.kvb": BATCH_TYPE,
        }
        for name, kind in expected.items():
            with self.subTest(name):
                self.assertEqual(self.filetype(files / name), kind)
        # Kelvane opens lower-case extensions only, so a desktop that honours case-sensitive
        # globs (GIO does; xdg-mime's generic fallback does not) sends it no others.
        if shutil.which("gio"):
            info = run(["gio", "info", "-a", "standard::content-type",
                        str(files / "CAPITALS.KVP")], env=self.desktop_env)
            found = re.search(r"content-type: (\S+)", info.stdout)
            self.assertIsNotNone(found, info.stdout + info.stderr)
            self.assertNotIn(found.group(1), (PROFILE_TYPE, BATCH_TYPE))

        desktop = run(["update-desktop-database", str(self.share / "applications")])
        self.assertEqual(desktop.returncode, 0, desktop.stderr)
        for kind in (PROFILE_TYPE, BATCH_TYPE):
            with self.subTest(kind):
                default = run(["xdg-mime", "query", "default", kind], env=self.desktop_env)
                self.assertEqual(default.stdout.strip(), "kelvane.desktop", default.stderr)

    def filetype(self, path):
        result = run(["xdg-mime", "query", "filetype", str(path)], env=self.desktop_env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def test_the_guide_shows_only_pictures_it_has_and_links_only_to_its_sections(self):
        guide = self.installed("share/kelvane/guide/index.html")
        page = GuidePage()
        page.feed(guide.read_text(encoding="utf-8"))
        self.assertGreater(len(page.pictures), 5)
        if cache_value(ARGS.build, "KELVANE_GUIDE_PICTURES") in ("ON", "TRUE", "1"):
            for picture in page.pictures:
                with self.subTest(picture):
                    path = guide.parent / picture
                    self.assertTrue(path.is_file(), picture)
                    self.assertEqual(path.read_bytes()[:8], b"\x89PNG\r\n\x1a\n", picture)
        for link in page.links:
            if link.startswith("#"):
                with self.subTest(link):
                    self.assertIn(link[1:], page.ids)

    def test_the_manual_pages_render_without_warnings(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed")
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        for name in ("kelvane.1", "kelvane-cli.1"):
            with self.subTest(name):
                page = self.installed(f"share/man/man1/{name}")
                result = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                              str(page)], env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")

    def test_the_installed_programs_say_their_version(self):
        for program in ("kelvane-cli", "kelvane"):
            with self.subTest(program):
                result = run([str(self.usr / "bin" / program), "--version"])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout.strip(), f"{program} {self.version}")

    def test_kelvane_started_with_a_profile_synchronises_it(self):
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import ThreadedFTPServer

        # A handler of its own keeps pyftpdlib from setting up its chatty default one.
        server_log = logging.getLogger("pyftpdlib")
        server_log.addHandler(logging.NullHandler())
        server_log.propagate = False
        site, server_root = self.work / "site", self.work / "server"
        (site / "css").mkdir(parents=True)
        (server_root / "www").mkdir(parents=True)
        (site / "index.html").write_text("<html>home</html>")
        (site / "css" / "site.css").write_text("body { margin: 0 }")
        (server_root / "www" / "old.html").write_text("<html>gone</html>")
        authorizer = DummyAuthorizer()
        authorizer.add_user("deploy", "secret", str(server_root), perm="elradfmwMT")
        handler = type("Handler", (FTPHandler,), {"authorizer": authorizer})
        server = ThreadedFTPServer(("127.0.0.1", 0), handler)
        port = server.socket.getsockname()[1]
        thread = threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2},
                                  daemon=True)
        thread.start()
        try:
            # A first start: no settings folder yet.
            config = self.work / "first-run-config"
            cli = [str(self.usr / "bin/kelvane-cli"), "--config-dir", str(config)]
            added = run(cli + ["connections", "add", "site", "--server", "127.0.0.1",
                               "--port", str(port), "--user", "deploy", "--password-stdin",
                               "--tls", "off"],
                        stdin="secret\n")
            self.assertEqual(added.returncode, 0, added.stderr)
            profile = self.work / "site.kvp"
            made = run(cli + ["profile", "new", str(profile), "--local", str(site), "--ftp",
                              "FTP:site/www/", "--delete", "--silent", "--auto-start"])
            self.assertEqual(made.returncode, 0, made.stderr)
            # kelvane-cli has no switch for it: leave the program once the run is over.
            text = profile.read_bytes().replace(b"exit_on_completion=0",
                                                b"exit_on_completion=1")
            profile.write_bytes(text)

            env = dict(os.environ, KELVANE_CONFIG_DIR=str(config), QT_QPA_PLATFORM="offscreen",
                       ASAN_OPTIONS="detect_leaks=0")
            window = run([str(self.usr / "bin/kelvane"), str(profile)], env=env, timeout=180)
            self.assertEqual(window.returncode, 0, window.stderr)
        finally:
            server.close_all()
            thread.join(timeout=10)
        www = server_root / "www"
        self.assertEqual((www / "index.html").read_text(), "<html>home</html>")
        self.assertEqual((www / "css" / "site.css").read_text(), "body { margin: 0 }")
        self.assertFalse((www / "old.html").exists())
        settings = (config / "Kelvane.conf").read_text(encoding="utf-8")
        self.assertIn(f"ProfilePath=sz:{profile}", settings)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
