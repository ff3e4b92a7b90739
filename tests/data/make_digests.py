#!/usr/bin/env python3
"""Writes digests.tsv: password digests computed apart from the program, for its tests.

The recipe, as the Quorvo application checks logins:
  1. Count the password in UTF-16 code units: n units, h = n // 2.
  2. Text = first h units of the password + the user name + the remaining n - h units.
  3. One byte per UTF-16 unit of that text: the unit itself when it is at most 0xFF,
     otherwise "?" (so a character outside the BMP, two units, gives "??").
  4. digest = SHA-1 of the 16 raw bytes of MD5 of those bytes: 20 raw bytes.

Columns: case name, user name, password (UTF-8 text, no tabs), digest in hex.
Run it again to regenerate the file; the searched rows come out the same each time.
"""

import hashlib
import os


def utf16_units(text):
    data = text.encode("utf-16-le")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def digest(user, password):
    units = utf16_units(password)
    half = len(units) // 2
    hashed = units[:half] + utf16_units(user) + units[half:]
    raw = bytes(unit if unit <= 0xFF else ord("?") for unit in hashed)
    return hashlib.sha1(hashlib.md5(raw).digest()).digest()


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def search(name, user_pattern, password, wanted):
    """The first user name of the pattern whose digest has the wanted property."""
    for i in range(100000):
        user = user_pattern % i
        if wanted(digest(user, password)):
            return (name, user, password)
    raise SystemExit("no input found for " + name)


CASES = [
    ("one character", "admin", "x"),
    ("even length, lower-case user name", "admin", "secret"),
    ("odd length", "admin", "secret1"),
    ("empty password", "admin", ""),
    ("case of the user name, upper", "Admin", "secret"),
    ("case of the user name, mixed", "ADMIN", "secret"),
    ("Latin-1 characters", "J\u00fcrgen", "p\u00e4ssw\u00f6rd\u00df\u00ff"),
    ("above U+00FF", "\u0141ukasz", "\u043f\u0430\u0440\u043e\u043b\u044c"),
    ("above U+00FF, other letters", "\u0141ukasz", "\u0430\u0431\u0432\u0433\u0434\u0435"),
    ("above U+00FF as question marks", "?ukasz", "??????"),
    ("outside the BMP, split in the middle", "admin", "key\U0001F511word"),
    ("outside the BMP as question marks", "admin", "key??word"),
    ("outside the BMP in the user name", "\U0001F600user", "secret"),
    ("25 characters", "abcdefghijklmnopqrstuvwxy", "a longer password, 33 characters!"),
    ("spaces only", "   ", "   "),
]

SEARCHED = [
    search("digest holding 0x00", "zero%d", "secret", lambda d: 0 in d),
    search("digest ending in 0x20", "space%d", "secret", lambda d: d[-1] == 0x20),
    search("digest that is valid UTF-8", "text%d", "secret", is_utf8),
]


def main():
    rows = CASES + SEARCHED
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "digests.tsv")
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("# Made by make_digests.py; the recipe is written out there.\n")
        out.write("# case\tuser\tpassword\tdigest (hex)\n")
        for name, user, password in rows:
            assert "\t" not in user + password and "\n" not in user + password
            out.write("%s\t%s\t%s\t%s\n" % (name, user, password, digest(user, password).hex()))
    not_utf8 = sum(not is_utf8(digest(u, p)) for _, u, p in rows)
    print("%d rows, %d digests not valid UTF-8" % (len(rows), not_utf8))


if __name__ == "__main__":
    main()
