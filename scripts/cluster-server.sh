#!/usr/bin/env bash
# Sets of servers that replicate, for the tests labelled cluster, each server on a loopback
# address and in a data folder of its own, all under one folder:
#
#   cluster-server.sh galera start DIR ADDRESS1 ADDRESS2 ADDRESS3
#       a Galera cluster of three nodes of Debian 12's MariaDB 10.11, its galera-4 provider and
#       its state transfer through mariadb-backup (the packages downloaded once into
#       $PEER_HOME/galera-debs and unpacked, not installed, into $PEER_HOME/root-galera; the
#       wsrep_sst_* scripts come from the mariadb-server package the same way). The first node
#       starts the cluster, the others join it one after the other with a full state transfer.
#   cluster-server.sh replica start DIR PRIMARY_ADDRESS REPLICA_ADDRESS
#       a MySQL 9.7 primary and its replica (scripts/peer-server.sh), with GTIDs.
#   cluster-server.sh group test DIR ADDRESS1 ADDRESS2 ADDRESS3 -- COMMAND...
#       a MySQL 9.7 Group Replication group of three in single-primary mode, the first member its
#       primary, in a private network namespace (unshare -n), which holds the addresses on its
#       loopback interface as the group asks; each member talks to the group on a port of its
#       own (33061 ...). COMMAND runs there with QUORVO_TEST_DB_HOST set to the primary and
#       QUORVO_TEST_DB_NODES to the others, then the group is stopped; exits with COMMAND's
#       status, or 125 where the group could not be had.
#   cluster-server.sh stop DIR
#       stops every server of DIR, the last one started first.
#   cluster-server.sh sql DIR N SQL
#       statements as root on the Nth server of DIR (1: the first node, or the primary).
#
# Nothing outside PEER_HOME and DIR is changed. On a failure, a line "cluster-server: REASON"
# says why, and the servers started so far are stopped.
set -euo pipefail

scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PEER_HOME=${PEER_HOME:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvo-peers}
galera_debs=$PEER_HOME/galera-debs
galera_root=$PEER_HOME/root-galera

say() { echo "cluster-server: $*" >&2; }
die() {
    say "$*"
    stop_all
    exit "${die_status:-1}"
}
usage() {
    sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

stop_all() {
    [[ -f ${dir:-}/servers ]] || return 0
    tac "$dir/servers" | while read -r kind node pid; do
        if [[ $kind == galera ]]; then
            # By the number it started with: a joiner writes its pid file only once it has
            # its state.
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 1 300); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            kill -9 "$pid" 2>/dev/null || true
        else
            "$scripts/peer-server.sh" stop "$node" >/dev/null 2>&1 || true
        fi
    done
    rm -f "$dir/servers"
}

# The server's root on the Nth node.
sql() {
    local node
    node=$(sed -n "${1}p" "$dir/servers" | cut -d' ' -f2)
    if [[ -f $node/peer.kind ]]; then
        "$scripts/peer-server.sh" client "$node" -N -e "$2"
    else
        mariadb --no-defaults --socket="$node/mariadb.sock" -uroot -N -e "$2"
    fi
}

galera_fetch() {
    [[ -x $galera_root/usr/bin/mariabackup && -f $galera_root/usr/lib/galera/libgalera_smm.so ]] &&
        return 0
    mkdir -p "$galera_debs"
    if ! ls "$galera_debs"/galera-4_*.deb >/dev/null 2>&1; then
        # The machine's own apt lists name Debian 12's packages.
        (cd "$galera_debs" && apt-get download galera-4 mariadb-backup mariadb-server socat libwrap0) \
            >"$galera_debs/download.log" 2>&1 ||
            die "the Galera packages could not be downloaded: $(tail -n 1 "$galera_debs/download.log")"
    fi
    local deb
    for deb in "$galera_debs"/*.deb; do dpkg-deb -x "$deb" "$galera_root"; done
}

galera_start() {
    [[ $# -eq 3 ]] || usage
    command -v mariadbd >/dev/null || die "Debian 12's mariadb-server-core is not installed"
    galera_fetch
    local cluster n=0 address node
    cluster=gcomm://$(IFS=,; echo "$*")
    for address in "$@"; do
        n=$((n + 1))
        node=$dir/node$n
        local port
        for port in 3306 4567; do
            ! (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null ||
                die "port $port on $address is taken by another server"
        done
        mkdir -p "$node"
        # The state transfer scripts read the node's settings from its file, and mariadbd finds
        # them, mariabackup and socat on its PATH (socat's libwrap in the unpacked root).
        cat >"$node/my.cnf" <<EOF
[mysqld]
datadir=$node/data
socket=$node/mariadb.sock
bind-address=$address
port=3306
$([[ $(id -u) -eq 0 ]] && echo user=root)
character-set-server=utf8mb4
collation-server=utf8mb4_general_ci
innodb-buffer-pool-size=32M
binlog-format=ROW
innodb-autoinc-lock-mode=2
wsrep-on=ON
wsrep-provider=$galera_root/usr/lib/galera/libgalera_smm.so
wsrep-provider-options=gmcast.listen_addr=tcp://$address:4567;ist.recv_addr=$address:4568;gcache.size=32M
wsrep-cluster-address=$cluster
wsrep-node-address=$address
wsrep-sst-receive-address=$address:4444
wsrep-sst-method=mariabackup
wsrep-sst-auth=root:
[sst]
sockopt=,bind=$address
EOF
        mariadb-install-db --defaults-file="$node/my.cnf" --auth-root-authentication-method=normal \
            --skip-test-db >"$node/install.log" 2>&1 ||
            die "node $n: the data folder could not be made ($(tail -n 1 "$node/install.log"))"
        local extra=()
        [[ $n -eq 1 ]] && extra=(--wsrep-new-cluster)
        PATH=$galera_root/usr/bin:$PATH LD_LIBRARY_PATH=$galera_root/usr/lib/x86_64-linux-gnu \
            nohup mariadbd --defaults-file="$node/my.cnf" \
            --pid-file="$node/mariadb.pid" --log-error="$node/mariadb.log" "${extra[@]}" \
            </dev/null >/dev/null 2>&1 &
        local pid=$! synced=
        echo "galera $node $pid" >>"$dir/servers"
        # A joiner answers only once its state transfer is done (most of a minute here).
        for _ in $(seq 1 3000); do
            kill -0 "$pid" 2>/dev/null || break
            synced=$(mariadb --no-defaults --socket="$node/mariadb.sock" -uroot -N -e \
                "select VARIABLE_VALUE from information_schema.GLOBAL_STATUS where VARIABLE_NAME = 'WSREP_LOCAL_STATE_COMMENT'" \
                2>/dev/null || true)
            [[ $synced == Synced ]] && break
            sleep 0.1
        done
        [[ $synced == Synced ]] || die "node $n did not join: $(grep -i error "$node/mariadb.log" | tail -n 1)"
    done
    sql 1 "select VARIABLE_VALUE from information_schema.GLOBAL_STATUS where VARIABLE_NAME = 'WSREP_CLUSTER_SIZE'"
}

# Starts MySQL server N of the set in NODE on ADDRESS, with GTIDs and the options given.
mysql_node() {
    local node=$1 n=$2 address=$3 log=$1/start.log
    shift 3
    mkdir -p "$node"
    echo "mysql $node" >>"$dir/servers"
    "$scripts/peer-server.sh" mysql start "$node" "$address" --server-id="$n" --gtid-mode=ON \
        --enforce-gtid-consistency=ON "$@" >"$log" 2>&1 ||
        die "$(grep -h 'peer-server:' "$log" | tail -n 1 | sed 's/^peer-server: //')"
}

replica_start() {
    [[ $# -eq 2 ]] || usage
    local n=0 address
    for address in "$@"; do
        n=$((n + 1))
        mysql_node "$dir/mysql$n" $n "$address"
    done
    sql 1 "CREATE USER 'quorvo_repl'@'%' IDENTIFIED BY 'quorvo-repl';
           GRANT REPLICATION SLAVE ON *.* TO 'quorvo_repl'@'%'"
    sql 2 "CHANGE REPLICATION SOURCE TO SOURCE_HOST = '$1', SOURCE_PORT = 3306,
               SOURCE_USER = 'quorvo_repl', SOURCE_PASSWORD = 'quorvo-repl',
               SOURCE_AUTO_POSITION = 1, GET_SOURCE_PUBLIC_KEY = 1;
           START REPLICA"
    local running=
    for _ in $(seq 1 300); do
        running=$(sql 2 "select (select SERVICE_STATE from performance_schema.replication_connection_status) = 'ON' and (select SERVICE_STATE from performance_schema.replication_applier_status) = 'ON'")
        [[ $running == 1 ]] && break
        sleep 0.1
    done
    [[ $running == 1 ]] ||
        die "the replica did not start: $(sql 2 "select LAST_ERROR_MESSAGE from performance_schema.replication_connection_status")"
    sql 1 "select version()"
}

group_test() {
    [[ $# -ge 5 && $4 == -- ]] || usage
    if [[ ${QUORVO_IN_NETNS:-} != 1 ]]; then
        unshare -n true 2>/dev/null || die "no network namespace can be made here (unshare -n)"
        QUORVO_IN_NETNS=1 exec unshare -n -- "$0" group test "$dir" "$@"
    fi
    ip link set lo up || die "the namespace's loopback interface could not be set up"
    local n=0 address node seeds=() status=0
    for address in "${@:1:3}"; do
        ip addr add "$address/32" dev lo
        seeds+=("$address:$((33061 + ${#seeds[@]}))")
    done
    for address in "${@:1:3}"; do
        n=$((n + 1))
        node=$dir/member$n
        mysql_node "$node" $n "$address" --plugin-load-add=group_replication.so \
            --group-replication-group-name=5d1f6c3e-9a4b-4c1e-8f00-0000000000a1 \
            --group-replication-local-address="${seeds[n - 1]}" \
            --group-replication-group-seeds="$(IFS=,; echo "${seeds[*]}")" \
            --group-replication-communication-stack=XCOM --report-host="$address" \
            --group-replication-start-on-boot=OFF \
            --group-replication-recovery-get-public-key=ON
        # The account for the state transfer, on each member alone.
        sql $n "SET SQL_LOG_BIN = 0; CREATE USER 'quorvo_repl'@'%' IDENTIFIED BY 'quorvo-repl';
                GRANT REPLICATION SLAVE, BACKUP_ADMIN, GROUP_REPLICATION_STREAM, CONNECTION_ADMIN
                ON *.* TO 'quorvo_repl'@'%'; SET SQL_LOG_BIN = 1;
                CHANGE REPLICATION SOURCE TO SOURCE_USER = 'quorvo_repl',
                SOURCE_PASSWORD = 'quorvo-repl' FOR CHANNEL 'group_replication_recovery'" ||
            die "member $n: the account for the state transfer could not be made"
        if [[ $n -eq 1 ]]; then
            sql 1 "SET GLOBAL group_replication_bootstrap_group = ON; START GROUP_REPLICATION;
                   SET GLOBAL group_replication_bootstrap_group = OFF" 2>"$node/group.log"
        else
            sql $n "START GROUP_REPLICATION" 2>"$node/group.log"
        fi || die "member $n did not join the group: $(tail -n 1 "$node/group.log")"
    done
    shift 4
    QUORVO_TEST_DB_HOST=$address1 QUORVO_TEST_DB_NODES=$address2,$address3 "$@" || status=$?
    stop_all
    exit $status
}

kind=
case ${1:-} in galera | replica | group) kind=$1; shift ;; esac
[[ $# -ge 2 ]] || usage
command=$1
dir=$(realpath -m "$2")
shift 2
# A start that fails half-way, wherever, leaves no server behind.
[[ $command == stop || $command == sql ]] || trap '[[ $? -eq 0 ]] || stop_all' EXIT
case $kind:$command in
galera:start) galera_start "$@" ;;
replica:start) replica_start "$@" ;;
group:test)
    die_status=125 address1=$1 address2=$2 address3=$3
    group_test "$@"
    ;;
*:stop) stop_all ;;
*:sql) [[ $# -eq 2 ]] || usage; sql "$1" "$2" ;;
*) usage ;;
esac
