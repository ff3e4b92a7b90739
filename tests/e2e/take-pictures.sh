#!/usr/bin/env bash
# Takes the documentation's pictures of the real windows into docs/: runs the end-to-end test
# against a throwaway server (QUORVO_DB_ADDRESS, default 127.0.0.1) with --pictures.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build" -j2 --target quorvo-setup >/dev/null

source "$root/scripts/throwaway-server.sh"
export QUORVO_TEST_DB_HOST=${QUORVO_DB_ADDRESS:-127.0.0.1}
export QUORVO_TEST_DB_USER=quorvo
export QUORVO_TEST_DB_PASSWORD=quorvo
throwaway_server pictures "$QUORVO_TEST_DB_USER" "$QUORVO_TEST_DB_PASSWORD"
export QUORVO_TEST_SERVER_DIR=$throwaway_dir

# Inside the server's folder, so that it goes with it whatever the outcome.
artifacts=$throwaway_dir/artifacts
python3 "$root/tests/e2e/e2e_setup.py" --executable "$root/build/app/quorvo-setup" \
    --artifacts "$artifacts" --pictures "$root/docs" SetupWindowTest
ls -l "$root/docs"/*.png
