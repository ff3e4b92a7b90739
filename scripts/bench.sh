#!/usr/bin/env bash
# Benchmark of the setup tool (not a test). Builds a release build in build-bench/, starts
# throwaway servers (removed again at the end): Debian 12's MariaDB 10.11 on QUORVO_DB_ADDRESS
# (default 127.0.0.1), and MariaDB 11.8 and MySQL 9.7 from Debian's newer packages on the next
# two addresses, as for the tests. Prints medians of QUORVO_BENCH_RUNS runs (default 7):
#   - on each server, a full provisioning run through the program's own run (without its window)
#     on a fresh database, next to the mariadb client sending the same statements from a file,
#     and their ratio;
#   - the time from starting quorvo-setup until its window is mapped (on a private Xvfb), and the
#     program's peak resident memory after a provisioning run through its window (on MariaDB
#     10.11).
# A newer server that cannot be had is skipped, with the reason.
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

bench() {
    python3 "$root/tests/bench/bench.py" --user "$user" --password "$password" \
        --runs "${QUORVO_BENCH_RUNS:-7}" --setup "$build/app/quorvo-setup" \
        --provision "$build/tests/bench/quorvo-bench-provision" "$@"
}

bench --host "${QUORVO_DB_ADDRESS:-127.0.0.1}"
for kind in mariadb mysql; do
    echo
    if throwaway_peer "$kind" bench "$user" "$password"; then
        bench --host "$throwaway_peer_address" --ratio-only
    else
        echo "Skipped $kind: $throwaway_peer_skip"
    fi
done
