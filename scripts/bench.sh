#!/usr/bin/env bash
# Benchmark of the setup tool (not a test). Builds a release build in build-bench/, starts a
# throwaway MariaDB server (QUORVO_DB_ADDRESS, default 127.0.0.1; removed again at the end)
# and prints medians of QUORVO_BENCH_RUNS runs (default 7):
#   - a full provisioning run through the program's own run (without its window) on a fresh database,
#     next to the mariadb client sending the same statements from a file, and their ratio;
#   - the time from starting quorvo-setup until its window is mapped (on a private Xvfb);
#   - the program's peak resident memory after a provisioning run through its window.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvo-setup quorvo-bench-provision >/dev/null

user=quorvo_bench
password=quorvo-bench-password
# The account switches the general log on to capture the program's statements.
source "$root/scripts/throwaway-server.sh"
throwaway_server bench "$user" "$password"

python3 "$root/tests/bench/bench.py" --host "${QUORVO_DB_ADDRESS:-127.0.0.1}" \
    --user "$user" --password "$password" --runs "${QUORVO_BENCH_RUNS:-7}" \
    --setup "$build/app/quorvo-setup" \
    --provision "$build/tests/bench/quorvo-bench-provision"
