#!/usr/bin/env bash
# A private MySQL 9.x or MariaDB 11.x server, as Debian's newer suites (trixie, sid) package it,
# or Debian 12's MariaDB 10.11, run on a Debian 12 or 13 machine without installing it: the
# packages (and every library they need, glibc included) are downloaded with a private apt state,
# unpacked into a root folder of their own and run through that root's own dynamic loader. The
# tests and the benchmark use it for the servers that administrators run today beside the
# system's own MariaDB.
#
# KIND is mysql, mariadb (both from $PEER_SUITES), mariadb-10.11 (Debian 12's, for a system whose
# own server is another) or wintools: no server, but Debian 12's Qt 6.4.2 host tools (moc, rcc,
# uic and their CMake files), of the Windows SDK's Qt version, made runnable in place as
# usr/lib/qt6/libexec/* of the root, and the copyright files of the Debian 12 packages that the
# SDK was built from (base-files' common-licenses, libqt6core6, libmariadb3).
#
#   peer-server.sh mysql|mariadb|mariadb-10.11 start DATADIR ADDRESS [SERVER OPTION...]
#       download (once, cached in $PEER_CACHE), unpack (once, into $PEER_ROOTS/root-KIND),
#       initialise DATADIR/data if it is new, start the server on ADDRESS:3306 (its socket, pid
#       file and error log in DATADIR), wait until it answers, print its version.
#       Extra options go to the server as they are (e.g. --log-bin=... --server-id=1).
#   peer-server.sh [KIND] stop DATADIR
#       stop the server of DATADIR by its pid and wait until it is gone.
#   peer-server.sh [KIND] client DATADIR [CLIENT ARGS...]
#       the matching client as root over the server's socket (MySQL and MariaDB 10.11: the
#       unpacked client through the unpacked loader, as Debian 13's client wants TLS, which 10.11
#       has not; MariaDB 11.8: the system's own mariadb client).
#   peer-server.sh [KIND] status DATADIR
#   peer-server.sh KIND fetch
#       only download and unpack (what start does first), e.g. to fill the cache ahead of time;
#       prints the root folder.
#   peer-server.sh mirror
#       prints the Debian mirror that this machine's apt sources name, which the packages come from.
#
# Environment: PEER_HOME (default ~/.cache/quorvo-peers) holds everything: PEER_APT (the private
# apt state: sources.list, lists, cache; made and updated on first use from the Debian mirror that
# this machine's own apt sources name; PEER_APT-bookworm for Debian 12's kinds), PEER_CACHE (the
# .deb files) and PEER_ROOTS (the unpacked roots); PEER_SUITES (default "trixie sid") the
# suites to take mysql and mariadb from; PEER_PORT (default 3306). Nothing outside PEER_HOME and
# DATADIR is changed; the system's apt is untouched. Several calls may fetch at the same time:
# they take turns on a lock in PEER_HOME.
set -euo pipefail

PEER_HOME=${PEER_HOME:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvo-peers}
PEER_CACHE=${PEER_CACHE:-$PEER_HOME/debs}
PEER_ROOTS=${PEER_ROOTS:-$PEER_HOME}
PEER_APT=${PEER_APT:-$PEER_HOME/apt}
PEER_SUITES=${PEER_SUITES:-trixie sid}
PORT=${PEER_PORT:-3306}
# The apt state of the kind's suites, set by setup_kind: the system's installed packages are not
# looked at (their versions may be of other suites). The mirror may be a frozen copy whose
# Release files are past their date.
apt_options() {
    APT=(-o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=/dev/null
         -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o Debug::NoLocking=1
         -o Dir::State::status=/dev/null -o Acquire::Check-Valid-Until=false)
}
# Only perl's tooling (mysqld_multi, mysqldumpslow, ...) needs these; the servers do not.
EXCLUDE='^(perl|perl-base|perl-modules-.*|libperl.*|libgdbm.*)$'

usage() {
    sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}
say() { echo "peer-server: $*" >&2; }
die() { say "$*"; exit 1; }

kind=
case ${1:-} in mysql|mariadb|mariadb-10.11|wintools) kind=$1; shift ;; esac
[[ $# -ge 1 ]] || usage
command=$1
shift
if [[ $command == fetch || $command == mirror ]]; then
    dir=
else
    [[ $# -ge 1 ]] || usage
    dir=$(realpath -m "$1")
    shift
fi

# Which kind a DATADIR holds, when the command did not say.
if [[ -z $kind && -f $dir/peer.kind ]]; then kind=$(cat "$dir/peer.kind"); fi

setup_kind() {
    suites=$PEER_SUITES apt_dir=$PEER_APT extra=()
    case $kind in
    mysql)
        packages=(mysql-server-core mysql-client-core)
        server_bin=usr/sbin/mysqld
        share=usr/share/mysql
        ;;
    mariadb)
        packages=(mariadb-server-core mariadb-client-core)
        server_bin=usr/sbin/mariadbd
        share=usr/share/mariadb sql=mariadb
        ;;
    mariadb-10.11)
        packages=(mariadb-server-core mariadb-client-core)
        server_bin=usr/sbin/mariadbd
        share=usr/share/mysql sql=mysql
        suites=bookworm apt_dir=$PEER_APT-bookworm
        ;;
    wintools)
        # (qt6-base-dev and qmake6 for the tools' CMake files, which name qmake; their own
        # dependencies are not needed.)
        packages=(qt6-base-dev-tools)
        extra=(qt6-base-dev qmake6 base-files libmariadb3)
        suites=bookworm apt_dir=$PEER_APT-bookworm
        ;;
    *) die "say mysql, mariadb, mariadb-10.11 or wintools" ;;
    esac
    apt_options
    root=$PEER_ROOTS/root-$kind
    debs=$PEER_CACHE/$kind
    # (Debian 12's libc6 has it in /lib, the newer ones in /usr/lib.)
    loader=$root/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2
    [[ $suites == bookworm ]] && loader=$root/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2
    libpath=$root/usr/lib/x86_64-linux-gnu:$root/lib/x86_64-linux-gnu
    data=$dir/data
    socket=$dir/server.sock
    pidfile=$dir/server.pid
    log=$dir/error.log
}

# A program of the unpacked root, run through the root's own loader and libraries.
in_root() {
    local program=$1
    shift
    "$loader" --library-path "$libpath" "$root/$program" "$@"
}

# The private apt state: the same Debian mirror as the system's own sources, the kind's suites.
mirror() {
    local uri
    uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1 || true)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" && $3 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
    [[ -n $uri ]] || die "no Debian mirror found in this machine's apt sources"
    echo "$uri"
}

apt_state() {
    [[ -f $apt_dir/.updated && ${1:-} != refresh ]] && return 0
    local uri
    uri=$(mirror)
    # Debian 13's keyring is no longer in apt's trusted folder: the entries name it.
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg options=
    [[ -f $keyring ]] && options="[signed-by=$keyring] "
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    : >"$apt_dir/sources.list"
    local suite
    for suite in $suites; do echo "deb $options$uri $suite main" >>"$apt_dir/sources.list"; done
    apt-get "${APT[@]}" -q update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; die "apt-get update failed"; }
    touch "$apt_dir/.updated"
}

# The packages asked for, so that a cache of another list is fetched anew (an empty mark is of
# a cache made before the list was recorded).
wanted() { echo "${packages[*]} ${extra[*]}"; }
cached() { [[ -f $1/.complete && (! -s $1/.complete || $(cat "$1/.complete") == "$(wanted)") ]]; }

download() {
    cached "$debs" && return 0
    apt_state
    # Lists of an earlier day may name packages that the mirror has replaced since.
    fetch_debs || { apt_state refresh && fetch_debs; } || die "download failed"
    wanted >"$debs/.complete"
    say "downloaded $(du -sb --apparent-size "$debs" | cut -f1) bytes ($(du -sh "$debs" | cut -f1))"
}

fetch_debs() {
    rm -rf "$debs"
    mkdir -p "$debs"
    local names
    names=$(apt-cache "${APT[@]}" depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances "${packages[@]}" |
        grep -v '^[ <]' | sort -u | grep -Ev "$EXCLUDE" || true)
    [[ -n $names ]] || die "apt-cache found no packages for ${packages[*]} in $suites"
    names+=" ${extra[*]}"
    say "downloading $(wc -w <<<"$names") packages for ${packages[*]} into $debs"
    # apt's sandbox user may not write here; the download then runs as the caller, which is fine.
    (cd "$debs" && apt-get "${APT[@]}" -q download $names >"$debs/download.log" 2>&1) ||
        { cat "$debs/download.log" >&2; return 1; }
}

# Download and unpack once; a second caller waits for the first instead of racing it.
fetch() {
    mkdir -p "$PEER_HOME"
    exec 8>"$PEER_HOME/fetch-$kind.lock"
    flock 8
    download
    unpack
    exec 8>&-
}

unpack() {
    cached "$root" && return 0
    rm -rf "$root.new"
    mkdir -p "$root.new"
    local deb
    for deb in "$debs"/*.deb; do
        dpkg-deb -x "$deb" "$root.new"
    done
    [[ $kind == wintools ]] && wrap_tools "$root.new"
    wanted >"$root.new/.complete"
    rm -rf "$root"
    mv "$root.new" "$root"
    [[ -x $loader ]] || die "no loader at $loader"
    say "unpacked into $root ($(du -sh "$root" | cut -f1))"
}

# CMake runs the Qt tools by their paths in the root: each becomes a script that runs the real
# program through the root's loader and libraries, not the system's Qt.
wrap_tools() {
    local new=$1 tool
    for tool in "$new"/usr/lib/qt6/libexec/*; do
        [[ -f $tool && ! -L $tool ]] || continue
        mv "$tool" "$tool.bin"
        printf '#!/bin/sh\nexec "%s" --library-path "%s" "%s.bin" "$@"\n' \
            "$loader" "$libpath" "$root/${tool#"$new"/}" >"$tool"
        chmod +x "$tool"
    done
}

is_root_user() { [[ $(id -u) -eq 0 ]]; }

common_options() {
    opts=(--no-defaults --basedir="$root/usr" --datadir="$data" --lc-messages-dir="$root/$share"
          --plugin-dir="$root/usr/lib/mysql/plugin")
    if is_root_user; then opts+=(--user=root); fi
    if [[ $kind == mariadb* ]]; then opts+=(--character-sets-dir="$root/$share/charsets"); fi
}

initialise() {
    [[ -d $data/mysql ]] && return 0
    rm -rf "$data"
    mkdir -p "$data"
    chmod 700 "$data"
    common_options
    if [[ $kind == mysql ]]; then
        rmdir "$data" # --initialize wants to create it, or an empty one
        in_root "$server_bin" "${opts[@]}" --initialize-insecure --log-error="$dir/init.log" \
            >>"$dir/init.log" 2>&1 || { tail -n 30 "$dir/init.log" >&2; die "initialisation failed"; }
    else
        # What mariadb-install-db --auth-root-authentication-method=normal --skip-test-db feeds the
        # server; the script itself runs the root's my_print_defaults directly, which the old glibc
        # here cannot load.
        {
            echo "create database if not exists mysql;"
            echo "use mysql;"
            echo "SET @auth_root_socket=NULL;"
            cat "$root/$share"/{${sql}_system_tables,${sql}_performance_tables,${sql}_system_tables_data,fill_help_tables,maria_add_gis_sp_bootstrap,${sql}_sys_schema}.sql
        } | in_root "$server_bin" "${opts[@]}" --bootstrap --log-warnings=0 --enforce-storage-engine="" \
            --max_allowed_packet=8M --net_buffer_length=16K --skip-log-bin >"$dir/init.log" 2>&1 ||
            { tail -n 30 "$dir/init.log" >&2; die "initialisation failed"; }
        printf '%s' "$(in_root "$server_bin" --version | grep -o '[0-9][0-9.]*-MariaDB' | head -1)" \
            >"$data/${sql}_upgrade_info"
    fi
}

running() {
    [[ -f $pidfile ]] || return 1
    local pid
    pid=$(cat "$pidfile")
    [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null &&
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--pid-file=$pidfile"
}

port_taken() { (exec 3<>"/dev/tcp/$1/$PORT") 2>/dev/null; }

client() {
    if [[ $kind == mysql ]]; then
        in_root usr/bin/mysql --no-defaults --socket="$socket" -uroot "$@"
    elif [[ $kind == mariadb-10.11 ]]; then
        in_root usr/bin/mariadb --no-defaults --socket="$socket" -uroot "$@"
    else
        mariadb --no-defaults --socket="$socket" -uroot "$@"
    fi
}

start() {
    local address=$1
    shift
    mkdir -p "$dir"
    echo "$kind" >"$dir/peer.kind"
    if running; then
        say "already running (pid $(cat "$pidfile"))"
        client -N -e 'select version()'
        return 0
    fi
    if port_taken "$address"; then
        die "something already listens on $address:$PORT"
    fi
    fetch
    initialise
    common_options
    opts+=(--socket="$socket" --pid-file="$pidfile" --bind-address="$address" --port="$PORT"
           --log-error="$log")
    if [[ $kind == mysql ]]; then
        # The X protocol would listen on every address, port 33060; files go to a folder of its own.
        mkdir -p "$dir/files"
        opts+=(--mysqlx=OFF --secure-file-priv="$dir/files")
    elif [[ $kind == mariadb-10.11 ]]; then
        # Its built-in default is latin1; Debian's configuration of it, as the system's server
        # here, makes it utf8mb4 (MariaDB 11.8's default).
        opts+=(--character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci)
    fi
    rm -f "$pidfile"
    echo "$address" >"$dir/peer.address"
    nohup "$loader" --library-path "$libpath" "$root/$server_bin" "${opts[@]}" "$@" \
        </dev/null >>"$dir/server.out" 2>&1 &
    local pid=$!
    local version=
    for _ in $(seq 1 600); do
        if version=$(client -N -e 'select version()' 2>/dev/null); then
            say "$kind server pid $pid on $address:$PORT, data $data"
            echo "$version"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    tail -n 30 "$log" "$dir/server.out" >&2 || true
    kill "$pid" 2>/dev/null || true
    die "the server did not answer"
}

stop() {
    running || { say "not running"; return 0; }
    local pid
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 1 600); do
        kill -0 "$pid" 2>/dev/null || { say "stopped pid $pid"; return 0; }
        sleep 0.1
    done
    say "pid $pid did not stop in 60 s; killing it"
    kill -9 "$pid" 2>/dev/null || true
}

case $command in
fetch) setup_kind; fetch; echo "$root" ;;
mirror) mirror ;;
start)
    [[ $# -ge 1 ]] || usage
    setup_kind
    start "$@"
    ;;
stop) [[ -n $kind ]] || die "no server in $dir"; setup_kind; stop ;;
status) [[ -n $kind ]] || die "no server in $dir"; setup_kind; running ;;
client) [[ -n $kind ]] || die "no server in $dir"; setup_kind; client "$@" ;;
*) usage ;;
esac
