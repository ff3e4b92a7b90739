#!/usr/bin/env bash
# Installs what is missing, builds in build/, starts a throwaway MariaDB server for the tests
# (removed again whatever the outcome), runs every test and exits with their status.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Debug ${QUORVO_CMAKE_ARGS:-}
cmake --build "$root/build" -j"$(nproc)"

# The tests' own account may create and drop databases and accounts and end other sessions.
# The server runs with binary logging on, as replicated servers do, for the cases that need it;
# the other tests pass either way.
source "$root/scripts/throwaway-server.sh"
export QUORVO_DB_BINLOG=1
export QUORVO_TEST_DB_HOST=${QUORVO_DB_ADDRESS:-127.0.0.1}
export QUORVO_TEST_DB_USER=quorvo_test
export QUORVO_TEST_DB_PASSWORD=quorvo-test-password
throwaway_server test "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD"
export QUORVO_TEST_SERVER_DIR=$throwaway_dir

cd "$root/build"
ctest --output-on-failure
