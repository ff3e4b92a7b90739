#!/usr/bin/env python3
"""The Windows zip under Wine, driven through its window against the test server.

    wine_setup.py --build-dir DIR [--artifacts DIR]

Builds the zip with scripts/build-windows.sh (QUORVO_WIN_ZIP names one built before), unzips
it and runs quorvo-setup.exe with wine in a fresh prefix on a private X server. Exits with 77
(skipped) where no Windows SDK is at hand; installs Wine when it is missing and run as root.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e_setup  # noqa: E402
import xsession  # noqa: E402
from e2e_setup import (CONNECTION_FAILED, SUCCESS, WRONG_HOST,  # noqa: E402
                       SetupWindowTest)
from windows import (WINE_CONFIG_HOST, WINE_CONFIG_HOST_TEXT, WINE_CONFIG_OK,  # noqa: E402
                     WINE_CONFIG_USER_TEXT, WINE_SETUP_DB_BUTTON, WINE_SETUP_OK,
                     WINE_SETUP_PASSWORD, WINE_SETUP_USERNAME)

SKIP = 77
WINEBOOT_TIMEOUT = 180  # a fresh prefix's first start takes about 13 s
WINDOW_TIMEOUT = 60.0


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


class WineSetupTest(SetupWindowTest):
    wine = None
    executable = None

    def start(self, settings, mode=0o600):
        path = os.path.join(self.workdir, "Quorvo.conf")
        with open(path, "wb") as f:
            f.write(settings)
        self.program = WineProgram(self.xserver, self.wine, self.executable, self.workdir,
                                   os.path.join(e2e_setup.OPTIONS.artifacts, "program.log"))
        window = self.program.window("Dialog", WINDOW_TIMEOUT)
        self.windows.append(window)
        window.settled_screenshot(WINDOW_TIMEOUT)
        return window

    def enter_account(self, window, username, password):
        window.fill(*WINE_SETUP_USERNAME, username)
        window.fill(*WINE_SETUP_PASSWORD, password)

    def test_refused_run_settings_save_and_provisioning(self):
        self.need_database()
        self.db.reset_inventory()
        # A file as a Windows editor saves it: CR LF line ends, a comment line.
        lines = [b"# Quorvo", f"hname:{WRONG_HOST}".encode(),
                 f"MySQLu:{self.db.user}".encode(), f"MySQLp:{self.db.password}".encode()]
        window = self.start(b"\r\n".join(lines) + b"\r\n")
        account = ("Keyholder", "Kéy-Ring7")
        self.enter_account(window, *account)
        # Windows' own number for a refused connection.
        refused = f"{CONNECTION_FAILED}\n2002: Can't connect to server on '{WRONG_HOST}' (10061)"
        self.press_and_wait_for_label(window, WINE_SETUP_OK, refused, red=True)
        self.assertEqual(self.db.tables(), set())

        config, field = self.open_settings(window, WINE_SETUP_DB_BUTTON, WINDOW_TIMEOUT)
        self.assertEqual(field(WINE_CONFIG_HOST_TEXT), WRONG_HOST)
        # Text recognition may read an underscore as a blank.
        self.assertEqual(field(WINE_CONFIG_USER_TEXT).replace("_", " "),
                         self.db.user.replace("_", " "))
        self.save_host(window, config, WINE_CONFIG_HOST, WINE_CONFIG_OK, WINDOW_TIMEOUT)
        path = os.path.join(self.workdir, "Quorvo.conf")
        lines[1] = f"hname:{self.db.host}".encode()
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"\r\n".join(lines) + b"\r\n")
        self.assertFalse(os.path.exists(path + ".tmp"))

        self.press_and_wait_for_label(window, WINE_SETUP_OK, SUCCESS, red=False)
        self.assert_schema()
        self.assert_accounts([account])
        # The run's thread and connection end with the window: the process goes.
        self.close_with_escape(window)


def install_wine():
    """Wine where it is missing: installed as root, otherwise a reason to skip."""
    if shutil.which("wine"):
        return None
    if os.geteuid() != 0:
        return "Wine is missing (apt-get install wine wine64)"
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], env=env, check=True, timeout=600)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "wine",
                    "wine64"], env=env, check=True, timeout=1200, stdout=subprocess.DEVNULL)
    return None


def package(build_dir):
    """The zip to test: QUORVO_WIN_ZIP, or one built now from these sources; None to skip."""
    if os.environ.get("QUORVO_WIN_ZIP"):
        return os.environ["QUORVO_WIN_ZIP"]
    env = dict(os.environ, QUORVO_WIN_BUILD_DIR=build_dir)
    result = subprocess.run([os.path.join(ROOT, "scripts", "build-windows.sh"),
                             "--no-sdk-build"], env=env, stdout=subprocess.PIPE, timeout=1800)
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
    zip_path = package(os.path.abspath(args.build_dir))
    if zip_path is None:
        print("SKIP: no Windows SDK to build the package with")
        return SKIP
    reason = install_wine()
    if reason:
        print(f"SKIP: {reason}")
        return SKIP

    # Windows draws the dialog font smaller and lighter than Linux does.
    xsession.TEXT_THRESHOLD = "70%"
    e2e_setup.OPTIONS.artifacts = os.path.abspath(args.artifacts)
    os.makedirs(e2e_setup.OPTIONS.artifacts, exist_ok=True)
    unpacked = tempfile.mkdtemp(prefix="quorvo-windows-")
    wine = Wine()
    try:
        with zipfile.ZipFile(zip_path) as archive:
            archive.extractall(unpacked)
        folder = os.path.join(unpacked, os.path.splitext(os.path.basename(zip_path))[0])
        WineSetupTest.executable = os.path.join(folder, "quorvo-setup.exe")
        WineSetupTest.wine = wine
        wine.boot()
        program = e2e_setup.unittest.main(
            argv=[sys.argv[0], "-v",
                  "WineSetupTest.test_refused_run_settings_save_and_provisioning"], exit=False)
        result = program.result
        return 0 if result.wasSuccessful() and result.testsRun > 0 else 1
    finally:
        wine.stop()
        shutil.rmtree(unpacked, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
