#!/usr/bin/env bash
# Builds the program and starts it against a private MariaDB server of this checkout.
#
#   scripts/run.sh          install what is missing, build, start the server (or reuse it),
#                           write run/Quorvo.conf if there is none, and start the program in run/
#   scripts/run.sh --stop   stop the server; its data stays in .local/ for the next start
#
# QUORVO_DB_ADDRESS picks the server's loopback address (127.0.0.1 if unset), as for the tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
server=$root/.local/mariadb
workdir=$root/run
address=${QUORVO_DB_ADDRESS:-127.0.0.1}

if [[ ${1:-} == --stop ]]; then
    "$root/scripts/mariadb-server.sh" stop "$server"
    echo "The server is stopped; its data stays in $server."
    exit 0
elif [[ $# -gt 0 ]]; then
    echo "usage: $0 [--stop]" >&2
    exit 2
fi

# Checked first: without a window there is nothing to build or start a server for.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "There is no display to show the window on (DISPLAY is not set)." >&2
    echo "Run this from a desktop session, or under a virtual one: xvfb-run scripts/run.sh" >&2
    exit 1
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target quorvo-setup

"$root/scripts/mariadb-server.sh" start "$server"
# The database exists and its account has the rights that an administrator gives it, no more;
# the setup tool creates the tables. The REVOKE takes back the ALL that servers made by earlier
# versions of this script granted.
"$root/scripts/mariadb-server.sh" sql "$server" "
    CREATE DATABASE IF NOT EXISTS ozrinventory;
    CREATE USER IF NOT EXISTS 'quorvo'@'%' IDENTIFIED BY 'quorvo';
    REVOKE ALL PRIVILEGES, GRANT OPTION FROM 'quorvo'@'%';
    GRANT SELECT, INSERT, UPDATE, DELETE, CREATE, REFERENCES, TRIGGER ON ozrinventory.* TO 'quorvo'@'%';"

mkdir -p "$workdir"
if [[ ! -f $workdir/Quorvo.conf ]]; then
    printf 'hname:%s\nMySQLu:quorvo\nMySQLp:quorvo\n' "$address" >"$workdir/Quorvo.conf"
    chmod 600 "$workdir/Quorvo.conf"
fi
echo "Server: $address:3306, database ozrinventory, account quorvo (password quorvo)."
echo "Settings file: $workdir/Quorvo.conf. Stop the server with: scripts/run.sh --stop"

cd "$workdir"
exec "$root/build/app/quorvo-setup"
