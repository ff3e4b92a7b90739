#!/usr/bin/env bash
# Benchmark of the setup tool (not a test). Builds a release build in build-bench/, starts
# throwaway servers (removed again at the end): Debian 12's MariaDB 10.11 on QUORVO_DB_ADDRESS
# (default 127.0.0.1), and MariaDB 11.8 and MySQL 9.7 from Debian's newer packages on the next
# two addresses, as for the tests. On each server, the program's provisioning run against the
# floor of the same work through the same client library (tests/bench/bench.py says how), in
# QUORVO_BENCH_RUNS interleaved pairs (default 15); on the first, also the window's start
# against a bare dialog of the same form, and the peak memory after a run through the window.
# A newer server that cannot be had is skipped, with the reason; a server on which the two runs
# did different work gets no ratio, and the script fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target quorvo-setup quorvo-bench-provision quorvo-bench-replay \
    quorvo-bench-wiretrace quorvo-bench-bare-dialog >/dev/null

user=quorvo_bench
password=quorvo-bench-password
source "$root/scripts/throwaway-server.sh"
throwaway_server bench "$user" "$password"

status=0
bench() {
    python3 "$root/tests/bench/bench.py" --user "$user" --password "$password" \
        --runs "${QUORVO_BENCH_RUNS:-15}" --build "$build" "$@" || status=1
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
exit $status
