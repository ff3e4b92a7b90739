#!/usr/bin/env bash
# Installs what is missing, builds in build/ and runs every test against a throwaway server of
# the system's own MariaDB (10.11 on Debian 12, 11.8 on Debian 13), then the tests that need a
# server (label db) again against each other supported server, unpacked from Debian's packages
# by scripts/peer-server.sh: MariaDB 10.11 (Debian 12's) or 11.8, whichever the system's is
# not, and MySQL 9.7; then the tests labelled cluster on a Galera cluster, a MySQL primary with a
# replica and a MySQL Group Replication group (scripts/cluster-server.sh). Each server is removed
# again whatever the outcome. The summary names each server once and says which server each
# failure came from; where a server or a set cannot be had, its run is skipped and the summary
# says why. Exits non-zero when any test failed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Debug ${QUORVO_CMAKE_ARGS:-}
cmake --build "$root/build" -j"$(nproc)"

# The tests' own account may create and drop databases and accounts and end other sessions.
# The servers run with binary logging on, as replicated servers do, for the cases that need it;
# the other tests pass either way.
source "$root/scripts/throwaway-server.sh"
export QUORVO_DB_BINLOG=1
# MariaDB 11.8 with a certificate that can be verified, for the cases of a CA certificate.
export QUORVO_DB_OWN_CA=1
export QUORVO_TEST_DB_USER=quorvo_test
export QUORVO_TEST_DB_PASSWORD=quorvo-test-password
main_host=${QUORVO_DB_ADDRESS:-127.0.0.1}
throwaway_server test "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD"
export QUORVO_TEST_SERVER_DIR=$throwaway_dir
main_version=$("$root/scripts/mariadb-server.sh" sql "$throwaway_dir" "select version()" |
    tail -n 1 | cut -d- -f1)
main_name="MariaDB $main_version"

passes=()  # "name|host" of each server the db tests run against once more
skipped=() # the servers that could not be had, with the reason
summary=()
for kind in mariadb-10.11 mariadb mysql; do
    case $kind in
    mariadb-10.11) label="MariaDB 10.11" ;;
    mariadb) label="MariaDB 11.8" ;;
    mysql) label="MySQL 9.7" ;;
    esac
    # The system's own server had the full run.
    [[ $main_version == "${label#MariaDB }".* ]] && continue
    if throwaway_peer "$kind" test "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD"; then
        name="$([[ $kind == mysql ]] && echo MySQL || echo MariaDB) ${throwaway_peer_version%%-*}"
        passes+=("$name|$throwaway_peer_address")
        if [[ $kind == mysql ]]; then
            # The Windows test logs in to it with an account of MySQL's default kind.
            export QUORVO_TEST_MYSQL_HOST=$throwaway_peer_address
            export QUORVO_TEST_MYSQL_USER=$QUORVO_TEST_DB_USER
            export QUORVO_TEST_MYSQL_PASSWORD=$QUORVO_TEST_DB_PASSWORD
        fi
    else
        echo "Skipping the tests on $label: $throwaway_peer_skip" >&2
        skipped+=("$label: skipped, $throwaway_peer_skip")
        [[ $kind == mysql ]] && export QUORVO_TEST_MYSQL_SKIP="$label could not be started: $throwaway_peer_skip"
    fi
done

cd "$root/build"
status=0
# Runs ctest against one server and notes its outcome for the summary.
run_tests() {
    local name=$1 host=$2
    shift 2
    echo
    echo "=== Tests on $name ($host) ==="
    if QUORVO_TEST_DB_HOST=$host ctest --output-on-failure "$@"; then
        summary+=("$name: passed")
    else
        status=1
        summary+=("$name: FAILED: $(cut -d: -f2 Testing/Temporary/LastTestsFailed.log | paste -sd ' ')")
    fi
}

run_tests "$main_name" "$main_host" -LE cluster
for pass in "${passes[@]}"; do
    run_tests "${pass%|*}" "${pass#*|}" -L db
done

# Then sets of servers that replicate (scripts/cluster-server.sh), one set at a time, each server
# on an address of its own above the three single ones: the tests labelled cluster run through
# the first server and compare every other one.
cluster_dirs=()
trap 'for dir in "${cluster_dirs[@]}"; do "$root/scripts/cluster-server.sh" stop "$dir" || true
      rm -rf "$dir"; done; throwaway_cleanup' EXIT
run_cluster() {
    local kind=$1 name=$2 dir
    shift 2
    dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvo-test-$kind.XXXXXX")
    cluster_dirs+=("$dir")
    if ! "$root/scripts/cluster-server.sh" "$kind" start "$dir" "$@" >"$dir/start.log" 2>&1; then
        skipped+=("$name: skipped, $(grep -h '^cluster-server:' "$dir/start.log" | tail -n 1 |
            sed 's/^cluster-server: //')")
        return 0
    fi
    "$root/scripts/cluster-server.sh" sql "$dir" 1 \
        "$(throwaway_account_sql "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD")"
    QUORVO_TEST_DB_NODES=$(IFS=,; echo "${*:2}") run_tests "$name" "$1" -L cluster
    "$root/scripts/cluster-server.sh" stop "$dir"
}
run_cluster galera "Galera cluster of 3 (MariaDB 10.11)" \
    "$(throwaway_address 3)" "$(throwaway_address 4)" "$(throwaway_address 5)"
run_cluster replica "MySQL 9.7 primary and replica" "$(throwaway_address 6)" "$(throwaway_address 7)"
# Group Replication asks for its members' addresses on an interface: the group and its tests run
# in a network namespace of their own (scripts/cluster-server.sh group test).
group_name="MySQL 9.7 Group Replication of 3"
group_dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvo-test-group.XXXXXX")
cluster_dirs+=("$group_dir")
echo
echo "=== Tests on $group_name ==="
group_status=0
"$root/scripts/cluster-server.sh" group test "$group_dir" "$(throwaway_address 8)" \
    "$(throwaway_address 9)" "$(throwaway_address 10)" -- bash -c \
    '"$0" sql "$1" 1 "$2" && ctest --output-on-failure -L cluster' "$root/scripts/cluster-server.sh" \
    "$group_dir" "$(throwaway_account_sql "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD")" \
    2> >(tee "$group_dir/test.log" >&2) || group_status=$?
case $group_status in
0) summary+=("$group_name: passed") ;;
125) skipped+=("$group_name: skipped, $(grep -h '^cluster-server:' "$group_dir/test.log" |
    tail -n 1 | sed 's/^cluster-server: //')") ;;
*)
    status=1
    summary+=("$group_name: FAILED: $(cut -d: -f2 Testing/Temporary/LastTestsFailed.log | paste -sd " ")")
    ;;
esac

# The end-to-end test skips its screen reader case, and says why here, where Orca cannot run.
orca_skipped=$root/build/tests/e2e/artifacts/screen-reader-skipped
[[ -s $orca_skipped ]] && skipped+=("Orca (end-to-end test): skipped, $(cat "$orca_skipped")")

echo
echo "Summary:"
printf '  %s\n' "${summary[@]}" "${skipped[@]}"
exit $status
