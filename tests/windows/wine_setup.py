#!/usr/bin/env python3
"""The Windows zip under Wine, driven through its window against the test server.

    wine_setup.py --build-dir DIR [--artifacts DIR]

Builds the zip with scripts/build-windows.sh (QUORVO_WIN_ZIP names one built before), unzips
it into a folder named in letters outside Windows' Western code page and runs quorvo-setup.exe
with wine in a fresh prefix on a private X server, against the MariaDB test server and the
MySQL 9.7 one (QUORVO_TEST_MYSQL_HOST, _USER, _PASSWORD; its case is skipped, with the reason in
QUORVO_TEST_MYSQL_SKIP, where there is none). Checks the zip's files and the program's
resources too. Exits with 77 (skipped) where no Windows SDK is at hand; installs Wine when it
is missing and run as root.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e_setup  # noqa: E402
import xsession  # noqa: E402
from e2e_setup import (CONNECTION_FAILED, SUCCESS, WRONG_HOST,  # noqa: E402
                       SetupWindowTest, label_rect)
from windows import (WINE_CONFIG_HOST, WINE_CONFIG_HOST_TEXT, WINE_CONFIG_OK,  # noqa: E402
                     WINE_CONFIG_PASSWORD, WINE_CONFIG_USER_TEXT, WINE_SETUP_DB_BUTTON,
                     WINE_SETUP_OK, WINE_SETUP_PASSWORD, WINE_SETUP_USERNAME)

SKIP = 77
WINEBOOT_TIMEOUT = 180  # a fresh prefix's first start takes about 13 s
WINDOW_TIMEOUT = 60.0
# Where the zip is unpacked: letters that Windows-1252, Wine's code page here, lacks.
PROGRAM_FOLDER = "Łukasz Narzędzia"
ENCODING_HINT = (
    "The configuration file looks like UTF-8, but Quorvo reads it in the system's code page, so "
    "its letters beyond ASCII do not arrive as written. Save the connection under \"Database "
    "Configuration\" (or save the file as \"ANSI\") to mend that.")


class Wine:
    """A Wine prefix of its own in a temporary folder."""

    def __init__(self):
        self.prefix = tempfile.mkdtemp(prefix="quorvo-wineprefix-")

    def env(self, base):
        env = dict(base, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("QT_QPA_PLATFORM", None)  # the Windows build has its own platform plugin only
        return env

    def run(self, *args, timeout=60):
        subprocess.run(args, env=self.env(os.environ), check=True, timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def boot(self):
        self.run("wine", "wineboot", "--init", timeout=WINEBOOT_TIMEOUT)
        # Wine lacks the dialog font that Qt asks for and falls back to a math font whose tall
        # glyph box puts a line edit's text outside its frame. An administrator's Windows has
        # the font; here a common one stands in, so that the fields show what they hold.
        for face in ("MS Shell Dlg", "MS Shell Dlg 2", "Tahoma"):
            self.run("wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face, "/d",
                     "DejaVu Sans", "/f")
        # Wine's desktop process, started here without a display, would serve the program's
        # windows with none: it has to end first.
        self.run("wineserver", "-w", timeout=WINEBOOT_TIMEOUT)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env(os.environ), timeout=30)
        shutil.rmtree(self.prefix, ignore_errors=True)


class WineProgram(xsession.Program):
    """quorvo-setup.exe started with wine in the working directory."""

    def __init__(self, xserver, wine, executable, workdir, log_path):
        self.x = xserver
        self.log = open(log_path, "ab")
        self.process = subprocess.Popen(["wine", executable], cwd=workdir,
                                        env=wine.env(xserver.env()), stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def window(self, title, timeout=10.0):
        return xsession.find_window(self.x, None, title, timeout)


def mysql_database():
    """The MySQL 9.7 test server through its account of all privileges, or None."""
    db = e2e_setup.Database()
    db.host, db.user, db.password = (os.environ.get(f"QUORVO_TEST_MYSQL_{name}", "")
                                     for name in ("HOST", "USER", "PASSWORD"))
    return db if db.host and db.user else None


def windows_settings(host, user, password):
    """Quorvo.conf as a Windows editor saves it: CR LF line ends, a comment line."""
    return f"# Quorvo\r\nhname:{host}\r\nMySQLu:{user}\r\nMySQLp:{password}\r\n"


class WineSetupTest(SetupWindowTest):
    wine = None
    executable = None
    account = ("Keyholder", "Kéy-Ring7")

    def start(self, settings, mode=0o600, folder=None):
        """Starts the program in folder (the case's own by default), with settings as its
        Quorvo.conf unless None, which leaves whatever is there."""
        folder = folder or self.workdir
        if self.program:
            self.program.stop()
        if settings is not None:
            with open(os.path.join(folder, "Quorvo.conf"), "wb") as f:
                f.write(settings)
        self.program = WineProgram(self.xserver, self.wine, self.executable, folder,
                                   os.path.join(e2e_setup.OPTIONS.artifacts, "program.log"))
        window = self.program.window("Dialog", WINDOW_TIMEOUT)
        self.windows.append(window)
        window.settled_screenshot(WINDOW_TIMEOUT)
        return window

    def enter_account(self, window, username, password):
        window.fill(*WINE_SETUP_USERNAME, username)
        window.fill(*WINE_SETUP_PASSWORD, password)

    def failed_run_mended_by_a_save(self, settings, failure, field, text, folder=None,
                                    again=False):
        """Quorvo.conf with settings (host, user, password) in folder, saved in UTF-8; a run
        that fails with failure; text saved into field under "Database Configuration", which
        opens with the file's host and user; the file then holds the test server's connection in
        the code page, with nothing beside it; and a run provisions. again: the program is
        started again before the save, as a long failure makes the window grow."""
        folder = folder or self.workdir
        host, user, password = settings
        self.db.reset_inventory()
        window = self.start(windows_settings(host, user, password).encode(), folder=folder)
        self.enter_account(window, *self.account)
        self.press_and_wait_for_label(window, WINE_SETUP_OK, failure, red=True)
        self.assertEqual(self.db.tables(), set())
        if again:
            self.close_with_escape(window)
            window = self.start(None, folder=folder)
            self.enter_account(window, *self.account)

        config, shown = self.open_settings(window, WINE_SETUP_DB_BUTTON, WINDOW_TIMEOUT)
        self.assertEqual(shown(WINE_CONFIG_HOST_TEXT), host)
        # Text recognition may read an underscore as a blank.
        self.assertEqual(shown(WINE_CONFIG_USER_TEXT).replace("_", " "), user.replace("_", " "))
        self.save_host(window, config, field, WINE_CONFIG_OK, WINDOW_TIMEOUT, text=text)
        path = os.path.join(folder, "Quorvo.conf")
        with open(path, "rb") as f:
            self.assertEqual(f.read(),
                             windows_settings(self.db.host, user, password).encode("cp1252"))
        self.assertFalse(os.path.exists(path + ".tmp"))
        self.press_and_wait_for_label(window, WINE_SETUP_OK, SUCCESS, red=False)
        self.assert_schema()
        self.assert_accounts([self.account])
        # The run's thread and connection end with the window: the process goes.
        self.close_with_escape(window)

    def refused_run_mended_by_a_save(self, folder=None):
        # Windows' own number for a refused connection.
        refused = f"{CONNECTION_FAILED}\n2002: Can't connect to server on '{WRONG_HOST}' (10061)"
        self.failed_run_mended_by_a_save((WRONG_HOST, self.db.user, self.db.password), refused,
                                         WINE_CONFIG_HOST, self.db.host, folder)

    def test_refused_run_settings_save_and_provisioning(self):
        # MariaDB 10.11 as Debian installs it offers no TLS: the run goes on in clear text.
        self.need_database()
        self.refused_run_mended_by_a_save()

    def test_mysql_account_with_folders_named_in_any_letters(self):
        self.db = mysql_database()
        if not self.db:
            self.skipTest(os.environ.get("QUORVO_TEST_MYSQL_SKIP", "no QUORVO_TEST_MYSQL_HOST"))
        # The server takes encrypted connections only: the run logs in over TLS (Schannel).
        self.db.query("SET GLOBAL require_secure_transport = ON")
        self.addCleanup(self.db.query, "SET GLOBAL require_secure_transport = OFF")
        # The first caching_sha2_password login after a server start sends the password
        # encrypted with the server's RSA key, where there is no TLS. Wine 8's bcrypt lacks the
        # padding for that ("BCryptEncrypt flags 0x4 not implemented"), so there it fails with
        # "2013: Can't connect to server (0)"; Windows has it. A login from Linux first (the
        # case's reset of ozrinventory) fills the server's cache of the account, after which the
        # short login needs no RSA.
        # The login plugin comes from the program's folder, PROGRAM_FOLDER; the settings file is
        # read and saved in a folder named in letters beyond Windows-1252 whose path is longer
        # than the 260 characters of Win32's plain calls (Wine starts a program only in a
        # folder of fewer).
        folder = os.path.join(self.workdir, "Ustawienia połączeń")
        folder = os.path.join(folder, "z" * (254 - len("Z:" + folder)))
        os.makedirs(folder)
        self.assertGreater(len("Z:" + os.path.join(folder, "Quorvo.conf")), 260)
        self.refused_run_mended_by_a_save(folder)

    def test_paths_in_windows_form(self):
        window = self.start(None)
        image = window.settled_screenshot()
        seen = xsession.read_text(image, label_rect(image))
        path = "Z:" + os.path.join(self.workdir, "Quorvo.conf").replace("/", "\\")
        self.assertTrue(xsession.shows_text(seen, (
            f"The configuration file could not be read.\n{path}: File not found.\n"
            "Please save the connection under \"Database Configuration\" to make it.")), seen)
        self.assertEqual(seen.count("\\"), path.count("\\"), seen)
        self.close_with_escape(window)

    def test_utf8_settings_file_named_and_mended_by_a_save(self):
        self.need_database()
        user, password = "quorvo_wine_utf8", "Schlüssel-Wärter"
        self.db.query(f"DROP USER IF EXISTS '{user}'@'%'; CREATE USER '{user}'@'%' IDENTIFIED BY "
                      f"'{password}'; GRANT ALL PRIVILEGES ON *.* TO '{user}'@'%';")
        self.addCleanup(self.db.query, f"DROP USER '{user}'@'%';")
        # As Notepad saves "UTF-8", without a byte order mark, the program reads it in the code
        # page, as the Quorvo application does, and the password arrives as other letters; the
        # password typed and saved under "Database Configuration" goes in the code page. The
        # server names the client as it sees the Linux one.
        client = self.db.query("SELECT SUBSTRING_INDEX(USER(), '@', -1)")[0][0]
        denied = (f"{CONNECTION_FAILED}\n1045: Access denied for user '{user}'@'{client}' "
                  f"(using password: YES)\n{ENCODING_HINT}")
        self.failed_run_mended_by_a_save((self.db.host, user, password), denied,
                                         WINE_CONFIG_PASSWORD, password, again=True)


class PackageTest(unittest.TestCase):
    """The zip as it is published: licences and sources of all it holds, and the resources
    that Explorer shows of the program."""

    folder = None
    texts = None  # the SDK's debian-copyright/

    def read(self, name):
        with open(os.path.join(self.folder, name), "rb") as f:
            return f.read()

    def test_licences_and_sources_of_all_it_holds(self):
        def windows_lines(path):
            with open(path, "rb") as f:
                return re.sub(rb"\r*\n", b"\r\n", f.read())

        self.assertEqual(self.read("LICENSE.txt"), windows_lines(os.path.join(ROOT, "LICENSE")))
        notices = self.read("THIRD-PARTY-NOTICES.txt")
        texts = [os.path.join(self.texts, n)
                 for n in ("LGPL-3", "GPL-3", "LGPL-2.1", "qt6-base", "mariadb")]
        # The runtime's, where this machine has the packages that its DLLs came from.
        for package, version in re.findall(rb"binary package (\S+) (\S+?)\.?\s", notices):
            here = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], text=True,
                                  capture_output=True).stdout
            if here == version.decode():
                texts.append(f"/usr/share/doc/{package.decode()}/copyright")
        for text in texts:
            self.assertIn(windows_lines(text), notices, f"{text} is not in the notices whole")
        for folder, _, files in os.walk(self.folder):
            sub = os.path.relpath(folder, self.folder)
            for name in (name for name in files if name.endswith(".dll")):
                named = [name if sub == "." else f"{sub}\\{name}", f"{sub}\\*.dll"]
                self.assertTrue(any(n.encode() in notices for n in named), f"{named[0]} unnamed")
        for source in (rb"source package qt6-base 6\.4\.2\+dfsg-10 ",
                       rb"libmariadb/ of mariadb_10\.11\.\d+\.orig\.tar\.gz",
                       rb"source package gcc-mingw-w64 \S+", rb"source package mingw-w64 \d+\.",
                       rb"scripts/windows-sdk\.sh"):
            self.assertRegex(notices, source)
        readme = self.read("README.txt").decode()
        with open(os.path.join(ROOT, "README.md")) as f:
            grant = re.search(r"GRANT SELECT, .*;", f.read()).group(0)
        self.assertIn(grant, readme)
        self.assertIn("Quorvo.conf", readme)

    def test_version_icon_and_manifest(self):
        exe = os.path.join(self.folder, "quorvo-setup.exe")

        def resource(kind, *options):
            return subprocess.run(["wrestool", "-x", f"--type={kind}", *options, exe],
                                  capture_output=True, check=True).stdout

        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            version, description = re.search(
                r'project\(QuorvoSetup VERSION (\S+) DESCRIPTION "([^"]+)"', f.read()).groups()
        info = resource(16, "--raw").decode("utf-16-le", errors="replace")
        for key, value in (("FileVersion", version), ("ProductVersion", version),
                           ("ProductName", "Quorvo Setup"), ("FileDescription", description),
                           ("OriginalFilename", "quorvo-setup.exe")):
            self.assertRegex(info, f"{key}\0+{re.escape(value)}\0")
        manifest = resource(24, "--raw").decode()
        for setting in (r'level="asInvoker"', r'supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-',
                        r"<longPathAware [^>]*>true</longPathAware>"):
            self.assertRegex(manifest, setting)
        # wrestool pads the icon that it puts back together.
        with open(os.path.join(ROOT, "packaging", "windows", "quorvo-setup.ico"), "rb") as f:
            self.assertTrue(resource(14).startswith(f.read()), "the icon is not the package's")


def install_tools():
    """Wine and wrestool where missing: installed as root, otherwise a reason to skip."""
    missing = [package for tool, packages in (("wine", ("wine", "wine64")),
                                              ("wrestool", ("icoutils",)))
               if not shutil.which(tool) for package in packages]
    if not missing:
        return None
    if os.geteuid() != 0:
        return f"{', '.join(missing)} missing (apt-get install {' '.join(missing)})"
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], env=env, check=True, timeout=600)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing],
                   env=env, check=True, timeout=1200, stdout=subprocess.DEVNULL)
    return None


def build_windows(build_dir, *options):
    """The last line that scripts/build-windows.sh prints; None where it has no SDK."""
    env = dict(os.environ, QUORVO_WIN_BUILD_DIR=build_dir)
    result = subprocess.run([os.path.join(ROOT, "scripts", "build-windows.sh"),
                             "--no-sdk-build", *options], env=env, stdout=subprocess.PIPE,
                            timeout=1800)
    if result.returncode == SKIP:
        return None
    if result.returncode != 0:
        raise SystemExit("scripts/build-windows.sh failed")
    return result.stdout.decode().splitlines()[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--artifacts", default=os.getcwd())
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    zip_path = os.environ.get("QUORVO_WIN_ZIP") or build_windows(build_dir)
    sdk = zip_path and build_windows(build_dir, "--print-sdk")
    if sdk is None:
        print("SKIP: no Windows SDK to build the package with")
        return SKIP
    reason = install_tools()
    if reason:
        print(f"SKIP: {reason}")
        return SKIP

    # Windows draws the dialog font smaller and lighter than Linux does.
    xsession.TEXT_THRESHOLD = "80%"
    e2e_setup.OPTIONS.artifacts = os.path.abspath(args.artifacts)
    os.makedirs(e2e_setup.OPTIONS.artifacts, exist_ok=True)
    unpacked = tempfile.mkdtemp(prefix="quorvo-windows-")
    wine = Wine()
    try:
        with zipfile.ZipFile(zip_path) as archive:
            archive.extractall(os.path.join(unpacked, PROGRAM_FOLDER))
        folder = os.path.join(unpacked, PROGRAM_FOLDER,
                              os.path.splitext(os.path.basename(zip_path))[0])
        PackageTest.folder = folder
        PackageTest.texts = os.path.join(sdk, "debian-copyright")
        WineSetupTest.executable = os.path.join(folder, "quorvo-setup.exe")
        WineSetupTest.wine = wine
        wine.boot()
        # The Linux cases that WineSetupTest inherits are not run here; its own are.
        cases = ["PackageTest"] + [f"WineSetupTest.{name}" for name in vars(WineSetupTest)
                                   if name.startswith("test_")]
        program = unittest.main(argv=[sys.argv[0], "-v", *cases], exit=False)
        result = program.result
        return 0 if result.wasSuccessful() and result.testsRun > 0 else 1
    finally:
        wine.stop()
        shutil.rmtree(unpacked, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
