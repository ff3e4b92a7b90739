#!/usr/bin/env bash
# A private MariaDB server on 127.0.0.1:3306 whose data, socket, pid and log live in one folder.
# QUORVO_DB_ADDRESS picks another loopback address (127.0.0.2, ...) so that several servers
# can run side by side on port 3306, the only port the program knows. QUORVO_DB_BINLOG=1 starts
# it with binary logging on, as replicated servers (and MySQL 8 by default) run; it is off
# otherwise.
#
#   mariadb-server.sh start DIR    create the data folder if needed, start, wait until ready
#   mariadb-server.sh stop DIR     stop the server of DIR (by its pid) and wait until it is gone
#   mariadb-server.sh status DIR   exit 0 when the server of DIR runs
#   mariadb-server.sh sql DIR SQL  run statements as the server's root over its socket
set -euo pipefail

usage() { echo "usage: $0 start|stop|status|sql DIR [SQL]" >&2; exit 2; }
[[ $# -ge 2 ]] || usage
command=$1
dir=$(realpath -m "$2")
data=$dir/data
socket=$dir/mariadb.sock
pidfile=$dir/mariadb.pid
log=$dir/mariadb.log
port=3306
address=${QUORVO_DB_ADDRESS:-127.0.0.1}
if [[ ${QUORVO_DB_BINLOG:-0} == 1 ]]; then
    binlog=(--log-bin="$dir/binlog" --server-id=1)
else
    binlog=(--skip-log-bin)
fi

# The pid file outlives a reboot or a killed server: its number counts only while it still
# names a server of this folder.
running() {
    [[ -f $pidfile ]] || return 1
    local pid
    pid=$(cat "$pidfile")
    if kill -0 "$pid" 2>/dev/null && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--pid-file=$pidfile"; then
        return 0
    fi
    rm -f "$pidfile"
    return 1
}
port_taken() { (exec 3<>/dev/tcp/$address/$port) 2>/dev/null; }
as_root_user() { [[ $(id -u) -eq 0 ]] && echo --user=root || true; }

start() {
    if running; then
        return 0
    fi
    if port_taken; then
        echo "Port $port on $address is already taken by another server." >&2
        echo "Stop that server (for a server of this project: scripts/run.sh --stop) and try again." >&2
        exit 1
    fi
    mkdir -p "$dir"
    if [[ ! -d $data/mysql ]]; then
        if ! mariadb-install-db --no-defaults --datadir="$data" --auth-root-authentication-method=normal \
            --skip-test-db $(as_root_user) >"$dir/install.log" 2>&1; then
            cat "$dir/install.log" >&2
            echo "Could not create the server's data folder in $data." >&2
            exit 1
        fi
    fi
    rm -f "$pidfile"
    mariadbd --no-defaults --datadir="$data" --socket="$socket" --pid-file="$pidfile" \
        --bind-address="$address" --port=$port $(as_root_user) --log-error="$log" \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
        --innodb-buffer-pool-size=32M "${binlog[@]}" </dev/null >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 300); do
        if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    tail -n 20 "$log" >&2 || true
    echo "The MariaDB server in $dir did not start." >&2
    # It may still be starting and have written no pid file yet: end it here, or it would
    # keep the port and its folder after the caller gives up.
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || exit 1
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    exit 1
}

stop() {
    running || return 0
    local pid
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 1 300); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    echo "The MariaDB server $pid did not stop in time; killing it." >&2
    kill -9 "$pid" 2>/dev/null || true
}

case $command in
start) start ;;
stop) stop ;;
status) running ;;
sql)
    [[ $# -eq 3 ]] || usage
    mariadb --no-defaults --socket="$socket" -uroot -e "$3"
    ;;
*) usage ;;
esac
