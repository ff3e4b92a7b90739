"""A private X server and a program on it, driven from the outside as a person would.

Everything here reads the screen and sends input through the X server only (xdotool for
input, ImageMagick for screenshots, tesseract for reading text), so the program under test
runs exactly as shipped. Every wait is bounded; every process started here is stopped by
its own pid.
"""

import difflib
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import tty


class DriverError(Exception):
    """The window did not do what a person would have seen it do."""


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns a true value and returns that, or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DriverError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def stop_process(process, timeout=5.0):
    """Terminates a process started here, then kills it if it does not go in time."""
    if process.poll() is not None:
        return process.returncode
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait(timeout)


def display_in_use(number):
    """Whether any X server, also one in another /tmp, holds this display number."""
    if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
        return True
    # The abstract socket is shared by every process of the network namespace.
    try:
        with open("/proc/net/unix") as sockets:
            return any(line.rstrip().endswith(f"@/tmp/.X11-unix/X{number}") for line in sockets)
    except OSError:
        return False


class Xvfb:
    """A virtual X server of our own on a display number that nothing else uses."""

    def __init__(self, width=1024, height=768, log_path=os.devnull):
        self.size = (width, height)
        self.log_path = log_path
        self.process = None
        self.display = None
        self.mapped = set()
        # Qt wants a private runtime folder and complains about any other.
        self.runtime_dir = tempfile.TemporaryDirectory(prefix="quorvo-xdg-")

    def __enter__(self):
        # Start high and spread by pid, away from the low numbers that desktops and other
        # test runs pick first; a server that loses a race for its number simply exits.
        # QUORVO_X_DISPLAYS ("51-59") keeps to the numbers that a shared machine gave a run.
        first = 100 + os.getpid() % 400
        low, _, high = os.environ.get("QUORVO_X_DISPLAYS", f"{first}-{first + 49}").partition("-")
        for number in range(int(low), int(high or low) + 1):
            if display_in_use(number):
                continue
            if self._start(number):
                self.display = f":{number}"
                return self
        raise DriverError("Xvfb could not start on any free display number")

    def _start(self, number):
        read_end, write_end = os.pipe()
        with open(self.log_path, "ab") as log:
            self.process = subprocess.Popen(
                ["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0",
                 f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=log,
                start_new_session=True)
        os.close(write_end)
        answer = b""
        try:
            # Xvfb writes the display number once it accepts connections, and closes the pipe
            # without a word when it cannot listen. It writes the number and the line end
            # separately and dies if the pipe is gone before the second write, so read on
            # until the line end.
            deadline = time.monotonic() + 20.0
            while not answer.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                ready, _, _ = select.select([read_end], [], [], max(remaining, 0))
                chunk = os.read(read_end, 64) if ready else b""
                if not chunk:
                    break
                answer += chunk
        finally:
            os.close(read_end)
        answer = answer.decode(errors="replace").strip()
        if answer == str(number) and self.process.poll() is None:
            return True
        stop_process(self.process)
        self.process = None
        return False

    def __exit__(self, *exc):
        if self.process:
            stop_process(self.process)
        self.runtime_dir.cleanup()

    def env(self):
        # The pictures, the click positions and the text recognition need the same look on
        # every machine, so no style, theme or scaling setting of the caller gets through.
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "QML_", "XDG_", "WAYLAND_"))}
        env["DISPLAY"] = self.display
        env["QT_QPA_PLATFORM"] = "xcb"
        env["XDG_RUNTIME_DIR"] = self.runtime_dir.name
        return env

    def map_characters(self, text):
        """Puts each non-ASCII character of text on a spare key for good.

        xdotool would map a missing character onto a spare key only for the moment of the
        press and back at once; a program that reads the key map after that drops the
        character. A lasting mapping leaves nothing to race.
        """
        wanted = {c for c in text if ord(c) > 0x7E} - self.mapped
        if not wanted:
            return
        table = self.run("xmodmap", "-pke").stdout.decode().splitlines()
        spare = [int(line.split()[1]) for line in table
                 if line.startswith("keycode") and not line.split("=", 1)[1].strip()]
        spare = [code for code in spare if code > 8]
        if len(spare) < len(wanted):
            raise DriverError("no spare keys left to type on")
        for code, char in zip(spare, sorted(wanted)):
            # Latin-1 keysyms are the code point; the others are 0x1000000 + the code point.
            keysym = ord(char) if ord(char) <= 0xFF else 0x1000000 + ord(char)
            self.run("xmodmap", "-e", f"keycode {code} = 0x{keysym:x}")
            self.mapped.add(char)

    def run(self, *args, timeout=10.0, check=True):
        """Runs an X client (xdotool, import, ...) against this display."""
        result = subprocess.run(args, env=self.env(), capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise DriverError(f"{' '.join(args)} failed: {result.stderr.decode(errors='replace')}")
        return result


class Image:
    """An RGB screenshot, as ImageMagick hands it over in binary PPM."""

    def __init__(self, ppm):
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not match or match.group(3) != b"255":
            raise DriverError("screenshot is no 8-bit PPM")
        self.width, self.height = int(match.group(1)), int(match.group(2))
        self.pixels = ppm[match.end():]
        self.ppm = ppm

    def pixel(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])

    def region(self, rect):
        x, y, w, h = rect
        return [self.pixel(i, j) for j in range(y, min(y + h, self.height))
                for i in range(x, min(x + w, self.width))]

    def red_pixels(self, rect):
        """Pixels that only red text can give: strongly red, little green or blue."""
        return sum(1 for r, g, b in self.region(rect) if r >= 170 and g <= 90 and b <= 90)

    def dark_pixels(self, rect):
        """Pixels of ordinary (dark grey to black) text on the light dialog background."""
        return sum(1 for r, g, b in self.region(rect) if max(r, g, b) <= 90)


class Window:
    """A top-level window of the program, addressed in its own coordinates."""

    def __init__(self, xserver, window_id, title):
        self.x = xserver
        self.id = window_id
        self.title = title

    def geometry(self):
        out = self.x.run("xdotool", "getwindowgeometry", "--shell", self.id).stdout.decode()
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def is_viewable(self):
        return self.x.run("xdotool", "search", "--onlyvisible", "--name",
                          f"^{re.escape(self.title)}$", check=False).stdout.split().count(
                              self.id.encode()) > 0

    def click(self, x, y):
        """Moves the pointer onto (x, y) of the window and clicks there, as a hand would."""
        self.x.run("xdotool", "mousemove", "--window", self.id, str(x), str(y), "click", "1")

    def focus(self):
        self.x.run("xdotool", "windowfocus", self.id)

    def key(self, *keys):
        """Presses keys (X key names) through the X test extension, to the focused window."""
        self.focus()
        self.x.run("xdotool", "key", "--clearmodifiers", *keys)

    def type_text(self, text):
        self.x.map_characters(text)
        self.focus()
        self.x.run("xdotool", "type", "--delay", "15", "--clearmodifiers", text)

    def fill(self, x, y, text):
        """Clicks into the field at (x, y), selects what it holds and types text over it."""
        self.click(x, y)
        self.key("ctrl+a")
        if text:
            self.type_text(text)
        else:
            self.key("BackSpace")

    def screenshot(self):
        return Image(self.x.run("import", "-window", self.id, "-depth", "8", "ppm:-").stdout)

    def settled_screenshot(self, timeout=10.0):
        """A screenshot once the window has painted: two in a row agree and show something.

        A window is mapped before its first paint, so the first pictures may be empty.
        """
        state = {"previous": None}

        def settled():
            image = self.screenshot()
            same = image.pixels == state["previous"]
            state["previous"] = image.pixels
            painted = len(set(image.pixels[i:i + 3] for i in range(0, len(image.pixels), 3)))
            return image if same and painted > 2 else None

        return wait_until(settled, timeout, f"window '{self.title}' to be painted", 0.05)

    def save_png(self, path):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        # A small palette keeps the pictures in the repository small and sharp.
        self.x.run("import", "-window", self.id, "-strip", "+dither", "-colors", "64",
                   f"png8:{path}")


def find_window(xserver, pid, title, timeout=10.0):
    """Waits until the process shows a mapped top-level window with exactly this title.

    Without a pid (Wine's windows carry none), any window of the X server counts.
    """
    owner = ("--pid", str(pid)) if pid else ()

    def search():
        out = xserver.run("xdotool", "search", "--all", "--onlyvisible", *owner,
                          "--name", f"^{re.escape(title)}$", check=False).stdout.split()
        return out[-1].decode() if out else None

    return Window(xserver, wait_until(search, timeout, f"window '{title}' of pid {pid}"), title)


# The grey level below which a pixel counts as text. A smaller, lighter font needs more.
TEXT_THRESHOLD = "60%"


def read_text(image, rect, scale=4, single_line=False):
    """Reads the text in a rectangle of a screenshot with tesseract, on a scaled-up grey crop."""
    x, y, w, h = rect
    convert = subprocess.run(
        ["convert", "ppm:-", "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace", "Gray",
         "-resize", f"{scale * 100}%", "-threshold", TEXT_THRESHOLD, "png:-"],
        input=image.ppm, capture_output=True, timeout=20, check=True)
    psm = "7" if single_line else "6"
    ocr = subprocess.run(["tesseract", "stdin", "stdout", "--psm", psm], input=convert.stdout,
                         capture_output=True, timeout=30, check=True)
    return ocr.stdout.decode(errors="replace")


def normalise(text):
    return " ".join(text.split())


def shows_text(seen, expected, min_ratio=0.9):
    """True when the recognised text is the whole expected text.

    The label wraps words where its width ends, so lines are compared as one run of words. A
    few misread characters are allowed; a missing word, a missing end or another message is
    not: every expected word must be found, mostly, in its place.
    """
    seen, expected = normalise(seen), normalise(expected)
    matcher = difflib.SequenceMatcher(None, seen, expected, autojunk=False)
    if not seen or matcher.ratio() < min_ratio:
        return False
    matched = [False] * len(expected)
    for block in matcher.get_matching_blocks():
        matched[block.b:block.b + block.size] = [True] * block.size
    start = 0
    for word in expected.split(" "):
        found = sum(matched[start:start + len(word)])
        if found * 2 < len(word):
            return False
        start += len(word) + 1
    return True


class AccessibilityBus:
    """A private D-Bus session bus with the AT-SPI bus on it and accessibility switched on, as a
    desktop has it while a screen reader runs. Fails with DriverError where it cannot start."""

    LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

    def __init__(self, xserver):
        if not os.path.exists(self.LAUNCHER):
            raise DriverError(f"{self.LAUNCHER} is missing (Debian package at-spi2-core)")
        try:
            address, pid = subprocess.run(
                ["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                capture_output=True, text=True, timeout=10, check=True).stdout.split()
        except (OSError, ValueError, subprocess.SubprocessError) as error:
            raise DriverError(f"the D-Bus session bus did not start: {error}") from None
        self.bus_pid = int(pid)
        self.env = {"DBUS_SESSION_BUS_ADDRESS": address}
        # The launcher takes the AT-SPI bus and its registry with it when it goes.
        self.launcher = subprocess.Popen(
            [self.LAUNCHER, "--launch-immediately", "--a11y=1", "--screen-reader=1"],
            env=dict(xserver.env(), **self.env), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)

    def stop(self):
        stop_process(self.launcher)
        os.kill(self.bus_pid, signal.SIGTERM)


class ScreenReader:
    """Orca on an AT-SPI bus of its own (bus.env leads a program there) and a speech server that
    speaks into a null sound device (without a device that takes the sound, Orca hangs after its
    third utterance). What it says is read from its debug log. DriverError: Orca cannot run."""

    SPEECH = re.compile(r"SPEECH OUTPUT: '(.*?)' ?\{'", re.DOTALL)
    # Orca's log marks where the handling of each event begins and ends.
    EVENT_MARK = re.compile(r"^(?:vvvvv|\^\^\^\^\^) ", re.MULTILINE)

    def __init__(self, xserver, log_path):
        if not (shutil.which("orca") and shutil.which("speech-dispatcher")):
            raise DriverError("orca or speech-dispatcher is missing (scripts/install-deps.sh)")
        # Orca does not start beside another Orca of the same user.
        if subprocess.run(["pgrep", "-u", str(os.getuid()), "-x", "orca"],
                          stdout=subprocess.DEVNULL).returncode == 0:
            raise DriverError("another Orca of this user is running")
        self.bus = AccessibilityBus(xserver)
        self.home = tempfile.TemporaryDirectory(prefix="quorvo-orca-")
        home = self.home.name
        os.makedirs(os.path.join(home, ".config", "speech-dispatcher"))
        pathlib.Path(home, ".asoundrc").write_text("pcm.!default { type null }\n")
        pathlib.Path(home, ".config", "speech-dispatcher", "speechd.conf").write_text(
            'AudioOutputMethod "alsa"\n')
        # Orca flushes its log only when the buffer is full, but line by line to a terminal: so
        # it writes to a terminal whose other end cat copies into the log.
        self.log_path = log_path
        self.terminal, self.other_end = os.openpty()
        tty.setraw(self.other_end)
        with open(log_path, "wb") as log:
            self.copier = subprocess.Popen(["cat"], stdin=self.terminal, stdout=log,
                                           stderr=subprocess.DEVNULL)
        self.process = subprocess.Popen(
            ["orca", "--debug-file", os.ttyname(self.other_end)], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True,
            env=dict(xserver.env(), **self.bus.env, HOME=home, XDG_RUNTIME_DIR=home))
        self.heard = 0
        try:
            self.wait_for("Screen reader on.", 60)
        except DriverError:
            self.stop()
            raise

    @classmethod
    def spoken(cls, log):
        """What the log says Orca spoke. Orca 43 says a notification's role and text in one
        utterance, Orca 48 in two for the same event: those two are one here, so that both read
        alike and a notification without text stays "notification" alone."""
        said = []
        for event in cls.EVENT_MARK.split(log):
            role_only = False
            for text in map(normalise, cls.SPEECH.findall(event)):
                if role_only:
                    said[-1] += " " + text
                else:
                    said.append(text)
                role_only = text == "notification" and not role_only
        return said

    def utterances(self):
        with open(self.log_path, errors="replace") as log:
            return self.spoken(log.read())

    def wait_for(self, text, timeout=45.0):
        """Waits until Orca says text (or one of a tuple of the phrasings of Orca's versions)
        after what it was last heard saying, and moves past it."""
        texts = {normalise(one) for one in ((text,) if isinstance(text, str) else text)}

        def said():
            spoken = self.utterances()[self.heard:]
            at = [index for index, one in enumerate(spoken) if one in texts]
            return bool(at) and self.heard + at[0] + 1
        self.heard = wait_until(said, timeout, f"Orca to say {text!r}", 0.2)

    def stop(self):
        stop_process(self.process)
        # Orca's speech server leaves its session; its pid file says which process it is.
        subprocess.run(["pkill", "-F", os.path.join(self.home.name, "speech-dispatcher", "pid",
                                                     "speech-dispatcher.pid")],
                       stderr=subprocess.DEVNULL)
        os.close(self.other_end)
        os.close(self.terminal)
        stop_process(self.copier)
        self.bus.stop()
        self.home.cleanup()


class Program:
    """The program under test, started in a working directory on the private X server."""

    def __init__(self, xserver, executable, workdir, log_path, env=None):
        self.x = xserver
        self.log = open(log_path, "ab")
        self.process = subprocess.Popen([executable], cwd=workdir,
                                        env=dict(xserver.env(), **(env or {})),
                                        stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True)

    @property
    def pid(self):
        return self.process.pid

    def window(self, title, timeout=10.0):
        return find_window(self.x, self.pid, title, timeout)

    def wait_exit(self, timeout=10.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired as error:
            raise DriverError(f"the program did not end within {timeout:g} s") from error

    def peak_memory_kib(self):
        """The peak resident set size so far (VmHWM), read while the program runs."""
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        raise DriverError("no VmHWM in /proc status")

    def stop(self):
        code = stop_process(self.process)
        self.log.close()
        return code
