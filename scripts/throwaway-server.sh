# Sourced by the scripts that need database servers of their own for one run.
#
#   throwaway_server PURPOSE USER PASSWORD
#       the system's own MariaDB (Debian 12's 10.11, Debian 13's 11.8) in a fresh temporary
#       folder (its path in $throwaway_dir) on ${QUORVO_DB_ADDRESS:-127.0.0.1}:3306.
#   throwaway_peer KIND PURPOSE USER PASSWORD
#       MariaDB 11.8 (KIND mariadb) or MySQL 9.7 (KIND mysql) from Debian's newer packages, or
#       Debian 12's MariaDB 10.11 (KIND mariadb-10.11), through scripts/peer-server.sh, in a
#       fresh temporary folder on an address after QUORVO_DB_ADDRESS: a MariaDB on the address
#       one above, MySQL 9.7 two above (127.0.0.2 and 127.0.0.3 by default). Sets throwaway_peer_address; where the packages cannot be
#       had or the server does not start it returns 1 with the reason in $throwaway_peer_skip.
#
# Each server gets the database ozrinventory and an account USER with all privileges (and the
# right to grant them, for accounts of a test's own). QUORVO_DB_BINLOG=1 switches binary logging
# on for the MariaDB servers, as replicated servers run; MySQL logs by default.
# QUORVO_DB_OWN_CA=1 gives MariaDB 11.8 and MySQL 9.7 a certificate for their address signed by
# a CA of its own (DIR/tls/ca.pem, which @@ssl_ca names), as an administrator sets one up;
# otherwise MariaDB makes a self-signed one at every start, and MySQL uses its own CA (ca.pem in
# its data folder, a certificate that names no host); MariaDB 10.11 offers no TLS. Every server
# started here is stopped and its folder removed when the calling script exits, whatever the
# outcome.

throwaway_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
throwaway_dirs=()

throwaway_cleanup() {
    local dir
    for dir in "${throwaway_dirs[@]}"; do
        if [[ -f $dir/peer.kind ]]; then
            "$throwaway_scripts/peer-server.sh" stop "$dir" >/dev/null 2>&1 || true
        else
            "$throwaway_scripts/mariadb-server.sh" stop "$dir" || true
        fi
        rm -rf "$dir"
    done
}
trap throwaway_cleanup EXIT

# The address N above QUORVO_DB_ADDRESS: 127.0.0.1 and 2 give 127.0.0.3.
throwaway_address() {
    local base=${QUORVO_DB_ADDRESS:-127.0.0.1}
    echo "${base%.*}.$((${base##*.} + $1))"
}

throwaway_account_sql() {
    local user=$1 password=$2
    echo "CREATE DATABASE IF NOT EXISTS ozrinventory;
          CREATE USER '$user'@'%' IDENTIFIED BY '$password';
          GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;"
}

throwaway_server() {
    local purpose=$1 user=$2 password=$3
    throwaway_dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvo-$purpose-server.XXXXXX")
    throwaway_dirs+=("$throwaway_dir")
    "$throwaway_scripts/mariadb-server.sh" start "$throwaway_dir"
    "$throwaway_scripts/mariadb-server.sh" sql "$throwaway_dir" "$(throwaway_account_sql "$user" "$password")"
}

# Makes DIR/tls with a CA and a certificate for ADDRESS signed by it; prints the server's options.
throwaway_own_ca() {
    local dir=$1/tls address=$2
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvo test CA" \
        -keyout "$dir/ca-key.pem" -out "$dir/ca.pem" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$address" -keyout "$dir/server-key.pem" \
        -out "$dir/server.csr" 2>/dev/null
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca-key.pem" \
        -CAcreateserial -days 2 -extfile <(echo "subjectAltName=IP:$address") \
        -out "$dir/server-cert.pem" 2>/dev/null
    echo "--ssl-ca=$dir/ca.pem --ssl-cert=$dir/server-cert.pem --ssl-key=$dir/server-key.pem"
}

throwaway_peer() {
    local kind=$1 purpose=$2 user=$3 password=$4 offset=1 dir log
    [[ $kind == mysql ]] && offset=2
    throwaway_peer_address=$(throwaway_address $offset)
    dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvo-$purpose-$kind.XXXXXX")
    throwaway_dirs+=("$dir")
    log=$dir/start.log
    local options=()
    if [[ $kind == mariadb* && ${QUORVO_DB_BINLOG:-0} == 1 ]]; then
        options=(--log-bin="$dir/binlog" --server-id=1)
    fi
    if [[ ($kind == mariadb || $kind == mysql) && ${QUORVO_DB_OWN_CA:-0} == 1 ]]; then
        read -ra tls <<<"$(throwaway_own_ca "$dir" "$throwaway_peer_address")"
        options+=("${tls[@]}")
    fi
    if ! "$throwaway_scripts/peer-server.sh" "$kind" start "$dir" "$throwaway_peer_address" \
        "${options[@]}" >"$log" 2>&1; then
        throwaway_peer_skip=$(grep -h 'peer-server:' "$log" | tail -n 1 | sed 's/^peer-server: //')
        [[ -n $throwaway_peer_skip ]] || throwaway_peer_skip=$(tail -n 1 "$log")
        return 1
    fi
    throwaway_peer_version=$(tail -n 1 "$log")
    "$throwaway_scripts/peer-server.sh" client "$dir" -e "$(throwaway_account_sql "$user" "$password")"
}
