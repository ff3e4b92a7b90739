#!/usr/bin/env python3
"""Measures the setup tool against the floor of its own work on a running server; scripts/bench.sh
builds the programs and starts the throwaway servers first.

    bench.py --host H --user U --password P --build DIR [--runs N] [--ratio-only]

Figures:
- one full provisioning run through the program's own run without its window
  (quorvo-bench-provision) on a fresh database, next to the floor: quorvo-bench-replay doing
  the same calls of the same client library, and nothing else. The program's calls are
  recorded through the library (wiretrace.c, preloaded); the replay is recorded the same way,
  and no ratio is printed unless both records match call for call (commands, statements,
  bound values, connect options and TLS settings, and every answer) and both runs left the
  same database. Then interleaved pairs, each on a fresh database, timed from the process's
  start to its end and inside the run (from the connect to the last answer); each pair's
  server counters (statements, bytes both ways) must match as well. Printed: min, median and
  max of each, and of the pairs' ratios.
- the time from starting quorvo-setup until its window is mapped on a private X server, in
  interleaved pairs with a bare dialog of the same form (quorvo-bench-bare-dialog);
- the peak resident memory (VmHWM) of quorvo-setup after a provisioning run through its window.
With --ratio-only, the first figure alone (for the other servers that scripts/bench.sh starts).
"""

import argparse
import collections
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import xsession  # noqa: E402
from windows import SETUP_OK, SETUP_PASSWORD, SETUP_USERNAME  # noqa: E402

ACCOUNT = ("benchadmin", "bench-password")
# The recorder's calls that send a command and wait for its answer.
ANSWERED = ("connect", "set_character_set", "select_db", "real_query", "query", "stmt_prepare",
            "stmt_execute", "stmt_reset", "ping", "commit", "rollback", "autocommit",
            "list_fields")
COMPOUND_PARTS = (b"BEGIN NOT ATOMIC ", b"SET @quorvo_errno = 0", b"SELECT @quorvo_errno, ", b"END")
DATABASE = "bench_run"  # every run on a fresh one of this name: the same text on the wire
TARGET_INSIDE, TARGET_WHOLE, TARGET_WINDOW = 1.05, 1.25, 1.1
# The server's counters of what every client sent and was sent; the benchmark's own client calls
# around a run add the same to both sides of a pair.
COUNTERS = ("Questions", "Bytes_received", "Bytes_sent", "Com_stmt_prepare", "Com_stmt_execute",
            "Com_stmt_reset", "Ssl_accepts")


# One process, in ms: whole, from the connect to the last answer, before that, after it.
Timing = collections.namedtuple("Timing", "whole inside before after")


class Refused(Exception):
    """The two runs did different work: a ratio would compare unlike things."""


class Server:
    def __init__(self, host, user, password):
        self.host, self.user, self.password = host, user, password

    def client(self, sql, database=""):
        """Runs the statements; returns the rows and the client process's id."""
        env = dict(os.environ, MYSQL_PWD=self.password)
        env.pop("LD_PRELOAD", None)
        args = ["mariadb", "--no-defaults", "--protocol=TCP", "-h", self.host, "-P", "3306",
                "-u", self.user, "--batch", "--skip-column-names", "--raw", "-e", sql]
        if database:
            args += ["-D", database]
        process = subprocess.Popen(args, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        out, err = process.communicate(timeout=120)
        if process.returncode:
            raise SystemExit(f"the mariadb client failed: {err.decode().strip()}")
        # Binary columns (the digest) are compared as they come.
        return [line.split("\t") for line in out.decode(errors="surrogateescape").splitlines()], \
            process.pid

    def query(self, sql, database=""):
        return self.client(sql, database)[0]

    def fresh(self):
        """A fresh database, then the counters as they stand (with the client's pid)."""
        where = ", ".join(f"'{c}'" for c in COUNTERS)
        rows, pid = self.client(f"DROP DATABASE IF EXISTS {DATABASE}; CREATE DATABASE {DATABASE};"
                                f" SHOW GLOBAL STATUS WHERE Variable_name IN ({where})")
        return {name: int(value) for name, value in rows}, pid

    def counters(self):
        where = ", ".join(f"'{c}'" for c in COUNTERS)
        rows, pid = self.client(f"SHOW GLOBAL STATUS WHERE Variable_name IN ({where})")
        return {name: int(value) for name, value in rows}, pid

    def contents(self):
        """What a run left: tables, their rows, triggers; AUTO_INCREMENT counters aside."""
        found = []
        tables = [row[0] for row in self.query("SHOW TABLES", DATABASE)]
        for table in sorted(tables):
            create = self.query(f"SHOW CREATE TABLE `{table}`", DATABASE)[0][1]
            create = " ".join(part for part in create.split()
                              if not part.startswith("AUTO_INCREMENT="))
            rows = self.query(f"SELECT * FROM `{table}`", DATABASE)
            found.append((table, create, sorted(map(tuple, rows))))
        triggers = self.query(
            "SELECT trigger_name, event_object_table, action_timing, event_manipulation, "
            "action_statement, definer, sql_mode FROM information_schema.triggers "
            f"WHERE trigger_schema = '{DATABASE}' ORDER BY trigger_name")
        return found, triggers


class Runner:
    def __init__(self, args, workdir):
        self.args, self.workdir = args, workdir
        bench = os.path.join(args.build, "tests", "bench")
        self.tracer = os.path.join(bench, "libquorvo-bench-wiretrace.so")
        self.program = [os.path.join(bench, "quorvo-bench-provision"), args.host, args.user,
                        args.password, DATABASE]
        self.capture = os.path.join(workdir, "program.trace")
        self.replay = [os.path.join(bench, "quorvo-bench-replay"), self.capture]

    def run(self, command, trace=None):
        """Runs one process with the tracer; returns its ms, the tracer's times and its pid."""
        times = os.path.join(self.workdir, "times")
        if os.path.exists(times):
            os.unlink(times)
        env = dict(os.environ, LD_PRELOAD=self.tracer, QUORVO_WIRE_TIMES=times,
                   QUORVO_WIRE_TRACE=trace or "")
        # The tracer's clock is CLOCK_MONOTONIC, as time.monotonic_ns() reads it on Linux.
        start = time.monotonic_ns()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        _, err = process.communicate(timeout=120)
        end = time.monotonic_ns()
        if process.returncode:
            raise SystemExit(f"{os.path.basename(command[0])} failed: {err.decode().strip()}")
        with open(times) as f:
            first, last, commands = (int(v) for v in f.read().split())
        return Timing((end - start) / 1e6, (last - first) / 1e6, (first - start) / 1e6,
                      (end - last) / 1e6), commands, process.pid


def first_difference(a, b):
    for number, (x, y) in enumerate(zip(a, b), 1):
        if x != y:
            return f"line {number}: program {x[:160]!r}, floor {y[:160]!r}"
    return f"the program's record has {len(a)} lines, the floor's {len(b)}"


def check_same_work(server, runner):
    """Records the program's calls and the replay's; both must be the same, call by call."""
    server.fresh()
    runner.run(runner.program, runner.capture)
    left_by_program = server.contents()
    replayed = os.path.join(runner.workdir, "replay.trace")
    server.fresh()
    runner.run(runner.replay, replayed)
    left_by_floor = server.contents()
    with open(runner.capture) as a, open(replayed) as b:
        program, floor = a.read().splitlines(), b.read().splitlines()
    if program != floor:
        raise Refused("the client library saw different calls or answers: "
                      + first_difference(program, floor))
    if left_by_program != left_by_floor:
        raise Refused("the two runs left different databases")
    if not any(row for table, _, rows in left_by_program[0] if table == "users" for row in rows):
        raise Refused("the program's run stored no account")
    return program


def delta(before, after, pids):
    """What the server counted between two readings. Each client sends its process id at the
    connect, and the first reading goes out after it was taken, both as text: a longer one is
    work of no one's choosing."""
    d = {name: after[0][name] - before[0][name] for name in COUNTERS}
    d["Bytes_received"] -= sum(len(str(pid)) for pid in pids)
    d["Bytes_sent"] -= sum(len(str(value)) for value in before[0].values())
    return d


def timed_pairs(server, runner, runs):
    """Interleaved pairs (which goes first alternates), the first of each left out as warm-up."""
    pairs, calibration = [], []
    for i in range(runs + 1):
        pair = {}
        for side in (("program", "floor") if i % 2 == 0 else ("floor", "program")):
            before = server.fresh()
            timing, commands, pid = runner.run(
                runner.program if side == "program" else runner.replay)
            after = server.counters()
            pair[side] = (timing, commands, delta(before, after, (pid, after[1])))
        if pair["program"][1:] != pair["floor"][1:]:
            raise Refused(f"pair {i}: the server counted different work: program "
                          f"{pair['program'][1:]}, floor {pair['floor'][1:]}")
        if i > 0:
            pairs.append(pair)
    # The benchmark's own client calls around a run, counted alike.
    for _ in range(3):
        before = server.fresh()
        after = server.counters()
        calibration.append(delta(before, after, (after[1],)))
    own = min(calibration, key=lambda d: d["Bytes_received"])
    return pairs, own


def spread(values, digits=1):
    return (f"{min(values):.{digits}f} / {statistics.median(values):.{digits}f} / "
            f"{max(values):.{digits}f}")


def verdict(ok):
    return "met" if ok else "MISSED"


def provisioning(args, server, workdir):
    runner = Runner(args, workdir)
    version = server.query("SELECT VERSION()")[0][0]
    print(f"Server {version} on {args.host}")
    try:
        record = check_same_work(server, runner)
        pairs, own = timed_pairs(server, runner, args.runs)
    except Refused as refusal:
        print(f"  NO RATIO: {refusal}")
        return False
    commands, work = pairs[0]["program"][1:]
    tls = "with TLS" if work["Ssl_accepts"] > own["Ssl_accepts"] else "without TLS"
    sent_bytes = work["Bytes_received"] - own["Bytes_received"] + len(str(os.getpid()))
    answered = work["Bytes_sent"] - own["Bytes_sent"]
    texts = [bytes.fromhex(line.split()[2]) for line in record
             if line.startswith(("real_query", "stmt_prepare"))]
    # The statements of each query; of a compound statement (the check on MariaDB), those in it.
    sent = collections.Counter(part for text in texts for part in text.split(b";\n")
                               if not part.startswith(COMPOUND_PARTS))
    again = sum(count > 1 for count in sent.values())
    print(f"  same work in both runs and every pair ({tls}): {commands} commands that wait for "
          f"an answer (the connect counted once), {len(texts)} queries and prepares holding "
          f"{sum(sent.values())} statements; "
          f"about {sent_bytes} bytes sent, {answered} received")
    # The check before the run: from asking who and where to creating the first table.
    check, counting = 0, False
    for line in record:
        words = line.split()
        text = bytes.fromhex(words[2]) if words[0] == "real_query" else b""
        counting = (counting or text.startswith(b"select database()")) and \
            not text.startswith(b"create table")
        check += counting and words[0] in ANSWERED
    print(f"  of the commands, the check before the run: {check}")
    # The check before the run sends no statement twice; the schema is read before the run
    # changes it and again after.
    print(f"  statements sent more than once: {again} "
          f"({'; '.join(repr(s[:40].decode(errors='replace')) for s, n in sent.items() if n > 1)})")
    print(f"  {len(pairs)} interleaved pairs, min / median / max in ms:")

    def column(side, field):
        return [getattr(pair[side][0], field) for pair in pairs]

    whole_ratio = [p["program"][0].whole / p["floor"][0].whole for p in pairs]
    inside_ratio = [p["program"][0].inside / p["floor"][0].inside for p in pairs]
    for field, what in (("whole", "whole process"), ("inside", "inside the run"),
                        ("before", "start to connect"), ("after", "last answer to end")):
        for side in ("program", "floor"):
            print(f"    {side + ',':8} {what:20} {spread(column(side, field))}")
    for field, what in (("whole", "whole process"), ("inside", "inside the run")):
        more = [getattr(p["program"][0], field) - getattr(p["floor"][0], field) for p in pairs]
        print(f"    program - floor, {what:15} {spread(more)}")
    w, n = statistics.median(whole_ratio), statistics.median(inside_ratio)
    print(f"  ratio whole process   {spread(whole_ratio, 2)}   "
          f"(median; target <= {TARGET_WHOLE}: {verdict(w <= TARGET_WHOLE)})")
    print(f"  ratio inside the run  {spread(inside_ratio, 2)}   "
          f"(median; target <= {TARGET_INSIDE}: {verdict(n <= TARGET_INSIDE)})")
    return True


class MapWatch:
    """The moments at which top-level windows get mapped on the X server, as xev reports them."""

    def __init__(self, xserver):
        self.process = subprocess.Popen(
            ["stdbuf", "-oL", "xev", "-root", "-event", "substructure"], env=xserver.env(),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.maps = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            if line.startswith("MapNotify"):
                with self.lock:
                    self.maps.append(time.perf_counter())

    def first_after(self, start, timeout=20.0):
        def found():
            with self.lock:
                later = [t for t in self.maps if t > start]
            return later[0] if later else None
        return xsession.wait_until(found, timeout, "a window to be mapped", interval=0.002)

    def stop(self):
        xsession.stop_process(self.process)


def window_start(args, runs):
    """Interleaved pairs: quorvo-setup and the bare dialog, each from its start to its map."""
    setup = os.path.join(args.build, "app", "quorvo-setup")
    bare = os.path.join(args.build, "tests", "bench", "quorvo-bench-bare-dialog")
    times = {setup: [], bare: []}
    with tempfile.TemporaryDirectory(prefix="quorvo-bench-") as workdir:
        with open(os.path.join(workdir, "Quorvo.conf"), "w") as conf:
            conf.write(f"hname:{args.host}\nMySQLu:{args.user}\nMySQLp:{args.password}\n")
        log = os.path.join(workdir, "program.log")
        with xsession.Xvfb() as xserver:
            watch = MapWatch(xserver)
            time.sleep(0.3)
            try:
                for i in range(runs + 1):
                    for exe in ((setup, bare) if i % 2 == 0 else (bare, setup)):
                        start = time.perf_counter()
                        program = xsession.Program(xserver, exe, workdir, log)
                        try:
                            mapped = watch.first_after(start)
                        finally:
                            program.stop()
                        if i > 0:
                            times[exe].append((mapped - start) * 1000)
            finally:
                watch.stop()
    ratios = [s / b for s, b in zip(times[setup], times[bare])]
    return times[setup], times[bare], ratios


def memory(args, server, runs):
    peaks = []
    with tempfile.TemporaryDirectory(prefix="quorvo-bench-") as workdir:
        with open(os.path.join(workdir, "Quorvo.conf"), "w") as conf:
            conf.write(f"hname:{args.host}\nMySQLu:{args.user}\nMySQLp:{args.password}\n")
        log = os.path.join(workdir, "program.log")
        setup = os.path.join(args.build, "app", "quorvo-setup")
        with xsession.Xvfb() as xserver:
            for _ in range(runs):
                program = xsession.Program(xserver, setup, workdir, log)
                try:
                    window = program.window("Dialog", timeout=20.0)
                    server.query("DROP DATABASE IF EXISTS ozrinventory; "
                                 "CREATE DATABASE ozrinventory")
                    window.fill(*SETUP_USERNAME, ACCOUNT[0])
                    window.fill(*SETUP_PASSWORD, ACCOUNT[1])
                    window.click(*SETUP_OK)
                    # The run stores the account last; the window says so a moment later.
                    stored = "SELECT COUNT(*) FROM information_schema.tables WHERE " \
                             "table_schema = 'ozrinventory' AND table_name = 'users'"
                    xsession.wait_until(
                        lambda: server.query(stored) == [["1"]] and
                        server.query("SELECT COUNT(*) FROM users", "ozrinventory") == [["1"]],
                        60.0, "the run through the window to store the account")
                    time.sleep(0.2)
                    peaks.append(program.peak_memory_kib() / 1024)
                    window.key("Escape")
                    program.wait_exit(10.0)
                finally:
                    program.stop()
    return peaks


def main():
    parser = argparse.ArgumentParser()
    for name in ("host", "user", "password", "build"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--ratio-only", action="store_true")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    server = Server(args.host, args.user, args.password)
    with open("/proc/loadavg") as load:
        print(f"Load average before: {' '.join(load.read().split()[:3])}")
    with tempfile.TemporaryDirectory(prefix="quorvo-bench-") as workdir:
        same = provisioning(args, server, workdir)
    server.query(f"DROP DATABASE IF EXISTS {DATABASE}")
    if not args.ratio_only:
        setup, bare, ratios = window_start(args, args.runs)
        r = statistics.median(ratios)
        print(f"  window mapped after start, {len(ratios)} interleaved pairs, "
              f"min / median / max in ms:")
        print(f"    quorvo-setup               {spread(setup)}")
        print(f"    bare dialog, same form     {spread(bare)}")
        print(f"  ratio window start    {spread(ratios, 2)}   "
              f"(median; target <= {TARGET_WINDOW}: {verdict(r <= TARGET_WINDOW)})")
        peaks = memory(args, server, 3)
        print(f"  peak resident memory after a run through the window: "
              f"{statistics.median(peaks):.1f} MB (target < 80 MB: "
              f"{verdict(statistics.median(peaks) < 80)})")
    with open("/proc/loadavg") as load:
        print(f"Load average after: {' '.join(load.read().split()[:3])}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
