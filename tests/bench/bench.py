#!/usr/bin/env python3
"""Measures the setup tool against a running server and prints medians; scripts/bench.sh
builds the programs and starts the throwaway server first.

    bench.py --host H --user U --password P --setup EXE --provision EXE [--runs N] [--ratio-only]

Figures:
- one full provisioning run (connect, schema, check, digest, account) through the program's own
  run without its window (quorvo-bench-provision) on a fresh database, next to the mariadb
  command-line client sending the statements that the program sent (captured from the
  server's general log) from a file to another fresh database, both timed alike from the
  process's start to its end, and their ratio; the program's own measure from the connection
  to the stored account is shown beside it;
- the time from starting quorvo-setup until its window is mapped on a private X server;
- the peak resident memory (VmHWM) of quorvo-setup after a provisioning run through its window.
With --ratio-only, the first figure alone (for the other servers that scripts/bench.sh starts).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import xsession  # noqa: E402
from windows import SETUP_OK, SETUP_PASSWORD, SETUP_USERNAME  # noqa: E402

# The client reads the file in binary mode and each statement ends with " $$" on its own line:
# then a statement that ends in a backslash reaches the server unchanged, as the program sent it.
DELIMITER = "$$"
ACCOUNT = ("benchadmin", "bench-password")


class Server:
    def __init__(self, host, user, password):
        self.host, self.user, self.password = host, user, password

    def client(self, *args, stdin=None, check=True):
        env = dict(os.environ, MYSQL_PWD=self.password)
        return subprocess.run(
            ["mariadb", "--no-defaults", "--protocol=TCP", "-h", self.host, "-P", "3306",
             "-u", self.user, *args], env=env, stdin=stdin, capture_output=True,
            timeout=120, check=check)

    def query(self, sql, database=""):
        args = ["--batch", "--skip-column-names", "--raw", "-e", sql]
        if database:
            args += ["-D", database]
        out = self.client(*args).stdout.decode()
        return [line.split("\t") for line in out.splitlines()]

    def fresh_database(self, name):
        self.query(f"DROP DATABASE IF EXISTS {name}; CREATE DATABASE {name}")


def provision(args, database):
    """One provisioning run of the program in a process of its own.

    Returns the milliseconds from the process's start to its end, measured the way the
    client's are, and the program's own measure from the connection to the stored account.
    """
    start = time.perf_counter()
    out = subprocess.run([args.provision, args.host, args.user, args.password, database],
                         capture_output=True, timeout=120, check=True).stdout.decode().split()
    return (time.perf_counter() - start) * 1000, float(out[1])


def capture_statements(args, server):
    """The statements that one provisioning run sends, as the server's general log saw them."""
    server.fresh_database("bench_capture")
    server.query("SET GLOBAL log_output = 'TABLE'; TRUNCATE mysql.general_log; "
                 "SET GLOBAL general_log = 1")
    try:
        provision(args, "bench_capture")
    finally:
        server.query("SET GLOBAL general_log = 0")
    rows = server.query(
        "SELECT command_type, HEX(argument) FROM mysql.general_log WHERE thread_id = "
        "(SELECT thread_id FROM mysql.general_log WHERE command_type = 'Init DB' "
        " AND argument = 'bench_capture' LIMIT 1)")
    statements = []
    for command, argument in rows:
        # MySQL logs a bound digest as its raw bytes; that statement is rebuilt below.
        text = bytes.fromhex(argument).decode(errors="replace")
        if command == "Query" and "NAME_CONST(" in text:
            # MySQL logs the statements that a trigger runs, with its variables filled in; the
            # client's run fires the triggers itself.
            continue
        if command == "Query":
            statements.append(text)
        elif command == "Execute" and text.startswith("insert into users"):
            # The log shows bound bytes in its own notation; the client sends them as hex.
            digest = server.query("SELECT HEX(password) FROM users", "bench_capture")[0][0]
            statements.append("insert into users (username, password) values "
                              f"('{ACCOUNT[0]}', X'{digest}')")
        elif command == "Execute":
            statements.append(text)
    if not any(s.startswith("insert into users") for s in statements):
        raise SystemExit("the general log holds no account insert: nothing to compare with")
    return statements


def client_run(server, sql_path, database):
    with open(sql_path, "rb") as sql:
        start = time.perf_counter()
        # --force: the program, too, goes on after the statements that the server refuses.
        server.client("--binary-mode", "--force", "-D", database, stdin=sql, check=False)
        elapsed = (time.perf_counter() - start) * 1000
    rows = server.query("SELECT COUNT(*) FROM users", database)
    if rows != [["1"]]:
        raise SystemExit(f"the client run on {database} stored no account")
    return elapsed


def window_and_memory(args, server, runs):
    mapped, peaks = [], []
    with tempfile.TemporaryDirectory(prefix="quorvo-bench-") as workdir:
        with open(os.path.join(workdir, "Quorvo.conf"), "w") as conf:
            conf.write(f"hname:{args.host}\nMySQLu:{args.user}\nMySQLp:{args.password}\n")
        log = os.path.join(workdir, "program.log")
        with xsession.Xvfb() as xserver:
            for _ in range(runs + 1):
                start = time.perf_counter()
                program = xsession.Program(xserver, args.setup, workdir, log)
                try:
                    window = program.window("Dialog", timeout=20.0)
                    mapped.append((time.perf_counter() - start) * 1000)
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
    # The first start warms the file cache and is left out.
    return mapped[1:], peaks[1:]


def main():
    parser = argparse.ArgumentParser()
    for name in ("host", "user", "password", "setup", "provision"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--ratio-only", action="store_true")
    args = parser.parse_args()
    server = Server(args.host, args.user, args.password)

    statements = capture_statements(args, server)
    with tempfile.NamedTemporaryFile("w", suffix=".sql", delete=False) as sql:
        sql.write(f"DELIMITER {DELIMITER}\n")
        for statement in statements:
            sql.write(f"{statement} {DELIMITER}\n")
        sql_path = sql.name

    try:
        program_ms, inner_ms, client_ms = [], [], []
        # One warm-up run each, then the two alternate so that both see the same server.
        for i in range(args.runs + 1):
            server.fresh_database(f"bench_prog_{i}")
            server.fresh_database(f"bench_cli_{i}")
            p, inner = provision(args, f"bench_prog_{i}")
            c = client_run(server, sql_path, f"bench_cli_{i}")
            if i > 0:
                program_ms.append(p)
                inner_ms.append(inner)
                client_ms.append(c)
        for i in range(args.runs + 1):
            server.query(f"DROP DATABASE bench_prog_{i}; DROP DATABASE bench_cli_{i}")
    finally:
        os.unlink(sql_path)

    version = server.query("SELECT VERSION()")[0][0]
    prog, cli = statistics.median(program_ms), statistics.median(client_ms)
    ratio = prog / cli

    def verdict(ok):
        return "met" if ok else "MISSED"

    print(f"Medians of {args.runs} runs; server {version} on {args.host}; "
          f"{len(statements)} statements per run")
    print(f"  provisioning run, program's own run       {prog:8.1f} ms  "
          f"(of which {statistics.median(inner_ms):.1f} ms from connecting to the stored account)")
    print(f"  same statements, mariadb client from file  {cli:8.1f} ms")
    print(f"  ratio program / client                     {ratio:8.2f}     "
          f"(target <= 1.05: {verdict(ratio <= 1.05)})")
    print(f"  (all runs: program {fmt(program_ms)} ms; client {fmt(client_ms)} ms)")
    if args.ratio_only:
        return 0

    mapped_ms, peak_mb = window_and_memory(args, server, args.runs)
    window = statistics.median(mapped_ms)
    peak = statistics.median(peak_mb)
    print(f"  window mapped after start                  {window:8.1f} ms  "
          f"(target <= 500 ms: {verdict(window <= 500)})")
    print(f"  peak resident memory after a run           {peak:8.1f} MB  "
          f"(target < 80 MB: {verdict(peak < 80)})")
    print(f"  (all runs: window {fmt(mapped_ms)} ms; memory {fmt(peak_mb)} MB)")
    return 0


def fmt(values):
    return " ".join(f"{v:.1f}" for v in values)


if __name__ == "__main__":
    sys.exit(main())
