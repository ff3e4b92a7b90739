#!/usr/bin/env python3
"""The real quorvo-setup window, driven end to end as an administrator would drive it.

The program runs unchanged on a private X server (Xvfb) in a temporary working directory with
its own "Quorvo.conf". It is driven with the pointer and the keyboard only, and everything is
checked from the outside: the rows, tables and triggers in the database, the bytes and mode
bits of the settings file, the exit code, the message label as it appears on screen (its
text read back by tesseract, its colour from the pixels), and the window as a screen reader
gets it over AT-SPI.

Needs the test server that scripts/test.sh starts (QUORVO_TEST_DB_HOST, QUORVO_TEST_DB_USER,
QUORVO_TEST_DB_PASSWORD, QUORVO_TEST_SERVER_DIR). Without them every case that needs the
database fails; set QUORVO_TEST_SKIP_DB=1 to skip those cases on purpose.

    e2e_setup.py --executable build/app/quorvo-setup [--artifacts DIR] [--pictures DIR]

--pictures DIR saves the documentation's pictures of the real window into DIR.
"""

import argparse
import hashlib
import json
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xsession  # noqa: E402
from windows import (CONFIG_HOST, CONFIG_HOST_TEXT, CONFIG_OK, CONFIG_PASSWORD_TEXT,  # noqa: E402
                     CONFIG_USER_TEXT, SETUP_DB_BUTTON, SETUP_LABEL, SETUP_OK, SETUP_PASSWORD,
                     SETUP_SIZE, SETUP_USERNAME)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ATSPI_PROBE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "atspi_probe.py")
SERVER_SCRIPT = os.path.join(ROOT, "scripts", "mariadb-server.sh")

EXPLANATION = ("This will atempt to create the database for Quorvo and add\n"
               " an initial user. Please give this users information below.")
SUCCESS = ("The system has been set up and the user has been added.\n"
           "Please close this and log into Quorvo.")
CONNECTION_FAILED = "The database connection failed. Please try again later."


def refused_at(host):
    """The connection failure with the server's reason below it: nothing listens on host."""
    return f"{CONNECTION_FAILED}\n2002: Can't connect to server on '{host}' (115)"


DUPLICATE = "There is already a user with that username, please choose another."


def taken(name):
    return f"{DUPLICATE}\n1062: Duplicate entry '{name}' for key 'PRIMARY'"

SAVED = "Your database configuration was successfully saved."

INVENTORY_TABLES = {"people", "pkeys", "p_k", "groups", "p_g", "rooms", "k_r", "g_r"}
TRIGGERS = {
    ("now_date_pk", "BEFORE", "INSERT"),
    ("checkout_keys", "AFTER", "INSERT"),
    ("change_keys", "AFTER", "UPDATE"),
    ("checkin_keys", "AFTER", "DELETE"),
}
# A host on which nothing listens, so a connection is refused at once.
WRONG_HOST = "127.0.0.253"

# How long a person would wait at most: a run that does not answer gives up after 10 s.
RUN_TIMEOUT = 45.0
WINDOW_TIMEOUT = 20.0

OPTIONS = argparse.Namespace(executable=None, artifacts=None, pictures=None)


def expected_digest(username, password):
    """The stored password digest, computed here without the program's code.

    SHA-1 over the raw MD5 of: the first half of the password (half of its UTF-16 length,
    rounded down), the user name, then the rest of the password, each UTF-16 unit as one
    Latin-1 byte and every unit above U+00FF as '?'.
    """

    def units(text):
        data = text.encode("utf-16-le", errors="surrogatepass")
        return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]

    pw = units(password)
    half = len(pw) // 2
    mixed = pw[:half] + units(username) + pw[half:]
    latin1 = bytes(u if u <= 0xFF else ord("?") for u in mixed)
    return hashlib.sha1(hashlib.md5(latin1).digest()).digest()


class Database:
    """The test server as the mariadb command-line client sees it."""

    def __init__(self):
        self.host = os.environ.get("QUORVO_TEST_DB_HOST", "")
        self.user = os.environ.get("QUORVO_TEST_DB_USER", "")
        self.password = os.environ.get("QUORVO_TEST_DB_PASSWORD", "")
        self.server_dir = os.environ.get("QUORVO_TEST_SERVER_DIR", "")

    def available(self):
        return bool(self.host and self.user and self.server_dir)

    def query(self, sql, database="ozrinventory"):
        env = dict(os.environ, MYSQL_PWD=self.password)
        result = subprocess.run(
            ["mariadb", "--no-defaults", "--protocol=TCP", "-h", self.host, "-P", "3306",
             "-u", self.user, "--batch", "--skip-column-names", "-D", database, "-e", sql],
            env=env, capture_output=True, timeout=30)
        if result.returncode != 0:
            raise AssertionError(f"{sql!r}: {result.stderr.decode(errors='replace')}")
        lines = result.stdout.decode().splitlines()
        return [tuple(line.split("\t")) for line in lines]

    def reset_inventory(self):
        """Empties ozrinventory as a fresh server would have it; the triggers go with p_k."""
        self.query("SET FOREIGN_KEY_CHECKS = 0; DROP TABLE IF EXISTS users, g_r, k_r, p_g, "
                   "p_k, rooms, `groups`, pkeys, people; SET FOREIGN_KEY_CHECKS = 1;")

    def tables(self):
        return {row[0] for row in self.query(
            "SELECT table_name FROM information_schema.tables "
            "WHERE table_schema = 'ozrinventory'")}

    def triggers(self):
        return {(name, timing, event) for name, timing, event, table in self.query(
            "SELECT trigger_name, action_timing, event_manipulation, event_object_table "
            "FROM information_schema.triggers WHERE trigger_schema = 'ozrinventory'")
            if table == "p_k"}

    def users(self):
        """Every account as (user name, stored password bytes)."""
        return {name: bytes.fromhex(digest) for name, digest in self.query(
            "SELECT username, HEX(password) FROM users ORDER BY username")}

    def server(self, command):
        env = dict(os.environ, QUORVO_DB_ADDRESS=self.host)
        subprocess.run(["bash", SERVER_SCRIPT, command, self.server_dir], env=env, check=True,
                       timeout=120, stdout=subprocess.DEVNULL)


def pyatspi_python():
    """A Python that has pyatspi: this one, or Debian's own where this one is another."""
    for python in (sys.executable, "/usr/bin/python3"):
        if subprocess.run([python, "-c", "import pyatspi"], capture_output=True).returncode == 0:
            return python
    return None


def label_rect(image):
    """The message label in a screenshot of the setup window, down to the fields below it: a
    long message takes the room between them, and then the window grows."""
    x, y, width, _ = SETUP_LABEL
    bottom = SETUP_USERNAME[1] - 12 + image.height - SETUP_SIZE[1]
    return (x, y, width + image.width - SETUP_SIZE[0], bottom - y)


def settings_text(host, db):
    return f"hname:{host}\nMySQLu:{db.user}\nMySQLp:{db.password}\n"


class SetupWindowTest(unittest.TestCase):
    """Each case starts the program afresh in a working directory of its own."""

    xserver = None

    @classmethod
    def setUpClass(cls):
        cls.xserver_context = xsession.Xvfb(
            log_path=os.path.join(OPTIONS.artifacts, "xvfb.log"))
        cls.xserver = cls.xserver_context.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.xserver_context.__exit__(None, None, None)

    def setUp(self):
        self.db = Database()
        self.workdir = tempfile.mkdtemp(prefix="quorvo-e2e-")
        self.program = None
        self.windows = []

    def tearDown(self):
        if self.program:
            if self.program.process.poll() is None:
                self.keep_evidence()
            self.program.stop()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def keep_evidence(self):
        """Saves what the windows still show, for whoever reads a failed run."""
        for window in self.windows:
            try:
                window.save_png(os.path.join(
                    OPTIONS.artifacts, f"{self.id().split('.')[-1]}-{window.title}.png"))
            except (xsession.DriverError, subprocess.SubprocessError):
                pass

    def need_database(self):
        if self.db.available():
            return
        if os.environ.get("QUORVO_TEST_SKIP_DB") == "1":
            self.skipTest("QUORVO_TEST_SKIP_DB=1 and no test server")
        self.fail("no test server: run this through scripts/test.sh")

    # --- driving ---------------------------------------------------------------------------

    def start(self, settings, mode=0o600, env=None):
        path = os.path.join(self.workdir, "Quorvo.conf")
        with open(path, "w", newline="") as f:
            f.write(settings)
        os.chmod(path, mode)
        self.program = xsession.Program(self.xserver, OPTIONS.executable, self.workdir,
                                         os.path.join(OPTIONS.artifacts, "program.log"), env)
        window = self.program.window("Dialog", WINDOW_TIMEOUT)
        self.windows.append(window)
        return window

    def label_crop(self, window):
        image = window.screenshot()
        return image.region(label_rect(image))

    def press_and_wait_for_label(self, window, point, expected, red):
        """Clicks a button and waits until the label shows expected, in red or not."""
        before = self.label_crop(window)
        window.click(*point)
        return self.wait_for_label(window, before, expected, red)

    def wait_for_label(self, window, before, expected, red):
        """Waits until the label, changed from before, shows expected; then checks its colour.

        The label counts as settled when two screenshots in a row agree, which rides out a
        repaint after another window on top of it has closed. Its text is read again only
        when the picture changes.
        """
        state = {"previous": None, "read": None, "seen": None, "image": None}

        def settled_on_expected():
            image = window.screenshot()
            crop = image.region(label_rect(image))
            settled = crop != before and crop == state["previous"]
            state["previous"] = crop
            if not settled:
                return False
            if crop != state["read"]:
                state["read"], state["image"] = crop, image
                state["seen"] = xsession.read_text(image, label_rect(image))
            return xsession.shows_text(state["seen"], expected)

        try:
            xsession.wait_until(settled_on_expected, RUN_TIMEOUT,
                                f"the message label to show {expected!r}", interval=0.1)
        except xsession.DriverError as error:
            image = window.screenshot()
            seen = xsession.read_text(image, label_rect(image))
            raise AssertionError(f"{error}; it shows {seen!r}") from None
        self.assert_colour(state["image"], expected, red)

    def assert_label(self, window, expected, red):
        image = window.settled_screenshot()
        seen = xsession.read_text(image, label_rect(image))
        self.assertTrue(xsession.shows_text(seen, expected),
                        f"the label shows {seen!r}, expected {expected!r}")
        self.assert_colour(image, expected, red)
        return seen

    def assert_colour(self, image, expected, red):
        red_pixels = image.red_pixels(label_rect(image))
        if red:
            self.assertGreater(red_pixels, 50, f"{expected!r} is not shown in red")
        else:
            self.assertEqual(red_pixels, 0, f"{expected!r} is shown in red")
            self.assertGreater(image.dark_pixels(label_rect(image)), 50,
                               f"{expected!r} is not shown in the normal colour")

    def enter_account(self, window, username, password):
        window.fill(*SETUP_USERNAME, username)
        window.fill(*SETUP_PASSWORD, password)

    def open_settings(self, window, button, timeout=WINDOW_TIMEOUT):
        """Opens the settings dialog with its button; returns it and a reader of its fields."""
        window.click(*button)
        config = self.program.window("Database Configuration", timeout)
        self.windows.append(config)
        shown = config.settled_screenshot()

        def field(rect):
            return xsession.normalise(xsession.read_text(shown, rect, single_line=True))
        return config, field

    def save_host(self, window, config, host_field, ok_button, timeout=WINDOW_TIMEOUT,
                  picture=None, text=None):
        """Enters the test server as the host (or text into another field) in the settings
        dialog and saves it."""
        config.fill(*host_field, self.db.host if text is None else text)
        if picture:
            self.picture(config, picture)
        before = self.label_crop(window)
        config.click(*ok_button)
        xsession.wait_until(lambda: not config.is_viewable(), timeout,
                            "the settings dialog to close")
        self.wait_for_label(window, before, SAVED, red=False)

    def picture(self, window, name):
        if OPTIONS.pictures:
            window.save_png(os.path.join(OPTIONS.pictures, name))

    def assert_still_running(self, window):
        self.assertIsNone(self.program.process.poll(), "the program ended")
        self.assertTrue(window.is_viewable(), "the window is gone")

    def close_with_escape(self, window):
        window.key("Escape")
        self.assertEqual(self.program.wait_exit(10.0), 0)

    def assert_accounts(self, accounts):
        """The users table holds exactly these (name, password) accounts, digests included."""
        stored = self.db.users()
        self.assertEqual(set(stored), {name for name, _ in accounts})
        for name, password in accounts:
            self.assertEqual(len(stored[name]), 20, f"digest of {name} has the wrong length")
            self.assertEqual(stored[name].hex(), expected_digest(name, password).hex(),
                             f"stored digest of {name}")

    def assert_schema(self):
        self.assertEqual(self.db.tables(), INVENTORY_TABLES | {"users"})
        self.assertEqual(self.db.triggers(), TRIGGERS)

    # --- the cases -------------------------------------------------------------------------

    def test_1_escape_at_once_ends_with_exit_code_zero(self):
        window = self.start("hname:127.0.0.1\nMySQLu:nobody\nMySQLp:\n")
        seen = self.assert_label(window, EXPLANATION, red=False)
        # The reading tells the texts of this window apart; otherwise it would prove nothing.
        for other in (SUCCESS, SAVED, CONNECTION_FAILED, DUPLICATE):
            self.assertFalse(xsession.shows_text(seen, other), other)
        self.picture(window, "setup-start.png")
        self.close_with_escape(window)

    def test_2_ok_creates_schema_and_accounts(self):
        self.need_database()
        self.db.reset_inventory()
        window = self.start(settings_text(self.db.host, self.db))

        # An odd-length password with a Latin-1 letter: the digest mixes the name in unevenly
        # and must see the letter as its one Latin-1 byte.
        first = ("Keyholder", "Kéy-Ring7")
        self.enter_account(window, *first)
        self.press_and_wait_for_label(window, SETUP_OK, SUCCESS, red=False)
        self.picture(window, "setup-success.png")
        self.assert_schema()
        self.assert_accounts([first])

        # The same name again adds nothing and leaves the first account as it was.
        before = self.label_crop(window)
        window.click(*SETUP_OK)
        self.wait_for_label(window, before, taken(first[0]), red=True)
        self.assert_accounts([first])

        second = ("Porter", "gate-42")
        self.enter_account(window, *second)
        self.press_and_wait_for_label(window, SETUP_OK, SUCCESS, red=False)
        self.assert_schema()
        self.assert_accounts([first, second])
        self.close_with_escape(window)

    def test_3_wrong_host_corrected_in_the_settings_dialog(self):
        self.need_database()
        self.db.reset_inventory()
        # Key lines in an unusual order among lines that are none; all but hname must stay.
        lines = [
            "# Quorvo connection settings",
            f"MySQLu:{self.db.user}",
            "",
            f"hname:{WRONG_HOST}",
            "HNAME:not-a-key-line",
            f"MySQLp:{self.db.password}",
        ]
        window = self.start("\n".join(lines) + "\n", mode=0o640)
        account = ("Warden", "tower-bell")
        self.enter_account(window, *account)
        self.press_and_wait_for_label(window, SETUP_OK, refused_at(WRONG_HOST), red=True)
        self.picture(window, "setup-failure.png")
        self.assert_still_running(window)
        self.assertEqual(self.db.tables(), set())

        # It opens with the settings read from the file, the password masked.
        config, field = self.open_settings(window, SETUP_DB_BUTTON)
        self.assertEqual(field(CONFIG_HOST_TEXT), WRONG_HOST)
        # Text recognition reads an underscore as a blank.
        self.assertEqual(field(CONFIG_USER_TEXT), self.db.user.replace("_", " "))
        self.assertNotIn(self.db.password[:6], field(CONFIG_PASSWORD_TEXT))
        self.save_host(window, config, CONFIG_HOST, CONFIG_OK,
                       picture="database-configuration.png")

        path = os.path.join(self.workdir, "Quorvo.conf")
        lines[3] = f"hname:{self.db.host}"
        with open(path, "rb") as f:
            self.assertEqual(f.read().decode(), "\n".join(lines) + "\n")
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o640)
        self.assertFalse(os.path.exists(path + ".tmp"))

        self.press_and_wait_for_label(window, SETUP_OK, SUCCESS, red=False)
        self.assert_schema()
        self.assert_accounts([account])
        self.close_with_escape(window)

    def test_4_server_down_then_started(self):
        self.need_database()
        self.db.reset_inventory()
        window = self.start(settings_text(self.db.host, self.db))
        account = ("Nightwatch", "lantern")
        self.enter_account(window, *account)
        self.db.server("stop")
        try:
            self.press_and_wait_for_label(window, SETUP_OK, refused_at(self.db.host), red=True)
            self.assert_still_running(window)
        finally:
            # Whatever happened, the server is back for the cases and tests that follow.
            self.db.server("start")
        self.assertEqual(self.db.tables(), set())
        self.press_and_wait_for_label(window, SETUP_OK, SUCCESS, red=False)
        self.assert_schema()
        self.assert_accounts([account])
        self.close_with_escape(window)

    def test_5_screen_reader_hears_named_fields_and_failures(self):
        python = pyatspi_python()
        if not python:
            self.skipTest("no Python with pyatspi (Debian package python3-pyatspi)")
        try:
            bus = xsession.AccessibilityBus(self.xserver)
        except xsession.DriverError as error:
            self.skipTest(f"the AT-SPI bus cannot start: {error}")
        self.addCleanup(bus.stop)

        # A run started with Enter in the password field fails: an alert, the focus back there.
        window = self.start(f"hname:{WRONG_HOST}\nMySQLu:nobody\nMySQLp:\n", env=bus.env)
        self.enter_account(window, "Warden", "tower-bell")
        before = self.label_crop(window)
        window.key("Return")
        self.wait_for_label(window, before, refused_at(WRONG_HOST), red=True)
        out = subprocess.run([python, ATSPI_PROBE, str(self.program.pid)], check=True,
                             env=dict(os.environ, **bus.env), capture_output=True, timeout=60)
        setup = json.loads(out.stdout)["Dialog"]
        # The fields named by their labels; the accessibility test has the other window's.
        self.assertEqual([(o["name"], o["labelled_by"]) for o in setup
                          if o["role"] in ("text", "password text")],
                         [("Username", ["Username"]), ("Password", ["Password"])])
        self.assertEqual([o["name"] for o in setup if o["focused"]], ["Password"])
        self.assertEqual([o["name"].startswith(f"Error: {CONNECTION_FAILED}") for o in setup
                          if o["role"] == "alert"], [True])
        self.assertIn("Alt+D", next(o["keys"] for o in setup
                                    if o["name"] == "Database Configuration"))

        window.key("alt+d")
        self.windows.append(self.program.window("Database Configuration", WINDOW_TIMEOUT))
        self.windows[-1].key("Escape")
        self.close_with_escape(window)

    def test_6_screen_reader_speaks_every_outcome_by_itself(self):
        self.need_database()
        self.db.reset_inventory()
        skipped = pathlib.Path(OPTIONS.artifacts, "screen-reader-skipped")
        try:
            orca = xsession.ScreenReader(self.xserver, os.path.join(OPTIONS.artifacts, "orca.log"))
        except xsession.DriverError as error:
            skipped.write_text(str(error))
            self.skipTest(f"Orca cannot run: {error}")
        skipped.unlink(missing_ok=True)
        self.addCleanup(orca.stop)

        def press(window, key, heard, times=1):
            for repeat in range(times):
                # The window takes a press within the double-click interval (Qt's 400 ms) of the
                # one that started a run as part of it; a quick Orca is heard sooner than that.
                if repeat:
                    time.sleep(0.5)
                window.key(key)
                orca.wait_for(heard)
        window = self.start(settings_text(WRONG_HOST, self.db), env=orca.bus.env)
        # The window's own text is read when it is activated; a field entered by Tab by its name.
        window.focus()
        orca.wait_for(f"Dialog dialog {EXPLANATION}")
        orca.wait_for("Username text.")
        window.type_text("Warden")
        press(window, "Tab", "Password text.")
        window.type_text("tower-bell")
        # Each outcome is spoken with no key pressed after it, a repeated failure too.
        press(window, "Return", f"notification Error: {refused_at(WRONG_HOST)}", times=2)
        # Orca 48 at times leaves the role out here.
        press(window, "alt+d", ("Database hostname text.", "Database hostname."))
        config = self.program.window("Database Configuration", WINDOW_TIMEOUT)
        self.windows.append(config)
        config.key("ctrl+a")
        config.type_text("a:b")
        unfit = "The values may not contain ':' or line breaks."
        press(config, "Return", f"notification Error: {unfit}", times=2)
        config.key("ctrl+a")
        config.type_text(self.db.host)
        press(config, "Return", f"notification {SAVED}")
        press(window, "Return", f"notification {SUCCESS}")
        self.assert_accounts([("Warden", "tower-bell")])
        self.assertNotIn("notification", orca.utterances(), "an empty notification was spoken")
        self.close_with_escape(window)


class HarnessSelfCheckTest(unittest.TestCase):
    """The two yardsticks above, checked against evidence that does not come from them."""

    def test_digest_recipe_matches_coreutils(self):
        for username, password in [("Keyholder", "Kéy-Ring7"), ("Porter", "gate-42"),
                                   ("a", "b"), ("Ünïcode", "€uro-sign")]:
            pw = password.encode("latin-1", errors="replace")
            half = len(password) // 2
            mixed = pw[:half] + username.encode("latin-1", errors="replace") + pw[half:]
            md5 = subprocess.run(["md5sum"], input=mixed, capture_output=True, check=True)
            sha1 = subprocess.run(["sha1sum"], input=bytes.fromhex(md5.stdout.split()[0].decode()),
                                  capture_output=True, check=True)
            self.assertEqual(expected_digest(username, password).hex(),
                             sha1.stdout.split()[0].decode(), (username, password))

    def test_notification_reads_alike_from_either_orca(self):
        def log(*events):
            return "".join("vvvvv START EVENT vvvvv\n" + "".join(
                f"SPEECH OUTPUT: '{text}' {{'established': False}}\n" for text in event)
                for event in events)
        spoken = xsession.ScreenReader.spoken
        self.assertEqual(spoken(log(["notification Error: x"], ["notification", "Error: x"])),
                         ["notification Error: x"] * 2)
        # A notification without text, and a text of the next event, stay apart.
        self.assertEqual(spoken(log(["notification"], ["Saved."])), ["notification", "Saved."])

    def test_text_matching_tells_messages_apart(self):
        wrapped_success = ("The system has been set up and the user\nhas been added.\n"
                           "Please close this and log into Quorvo.\n")
        self.assertTrue(xsession.shows_text(wrapped_success, SUCCESS))
        self.assertFalse(xsession.shows_text(wrapped_success, EXPLANATION))
        # A message cut short is not the message.
        self.assertFalse(xsession.shows_text(
            "The system has been set up and the user has\nPlease close this and log into Quorvo.",
            SUCCESS))
        self.assertFalse(xsession.shows_text("The system has been set up", SUCCESS))
        self.assertFalse(xsession.shows_text(
            "The database connection failed. Please try aga", CONNECTION_FAILED))
        self.assertTrue(xsession.shows_text(
            "The database connection failed. Please\ntry again later.", CONNECTION_FAILED))
        self.assertFalse(xsession.shows_text(
            "The database connection was lost. Please try again later.", CONNECTION_FAILED))
        self.assertFalse(xsession.shows_text("", SAVED))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--executable", required=True)
    parser.add_argument("--artifacts", default=os.getcwd(),
                        help="where the X server log, program log and failure pictures go")
    parser.add_argument("--pictures", help="save the documentation's pictures here")
    args, rest = parser.parse_known_args()
    OPTIONS.executable = os.path.abspath(args.executable)
    OPTIONS.artifacts = os.path.abspath(args.artifacts)
    OPTIONS.pictures = os.path.abspath(args.pictures) if args.pictures else None
    os.makedirs(OPTIONS.artifacts, exist_ok=True)
    for tool in ("Xvfb", "xdotool", "xmodmap", "import", "convert", "tesseract", "mariadb"):
        if not shutil.which(tool):
            print(f"{tool} is missing: run scripts/install-deps.sh", file=sys.stderr)
            return 1
    program = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False)
    result = program.result
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
