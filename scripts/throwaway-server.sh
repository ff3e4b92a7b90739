# Sourced by the scripts that need a MariaDB server of their own for one run.
#
#   throwaway_server PURPOSE USER PASSWORD
#
# starts a server in a fresh temporary folder (its path in $throwaway_dir) on
# ${QUORVO_DB_ADDRESS:-127.0.0.1}:3306, with the database ozrinventory and an account USER with
# all privileges (and the right to grant them, for accounts of a test's own), and stops and
# removes it when the calling script exits, whatever the outcome.

throwaway_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

throwaway_server() {
    local purpose=$1 user=$2 password=$3
    throwaway_dir=$(mktemp -d "${TMPDIR:-/tmp}/quorvo-$purpose-server.XXXXXX")
    trap '"$throwaway_scripts/mariadb-server.sh" stop "$throwaway_dir" || true; rm -rf "$throwaway_dir"' EXIT
    "$throwaway_scripts/mariadb-server.sh" start "$throwaway_dir"
    "$throwaway_scripts/mariadb-server.sh" sql "$throwaway_dir" "
        CREATE DATABASE IF NOT EXISTS ozrinventory;
        CREATE USER '$user'@'%' IDENTIFIED BY '$password';
        GRANT ALL PRIVILEGES ON *.* TO '$user'@'%' WITH GRANT OPTION;"
}
