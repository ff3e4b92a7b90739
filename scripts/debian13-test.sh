#!/usr/bin/env bash
# Runs the README's test command, scripts/test.sh, in a fresh Debian 13 ("trixie") system, as a
# new administrator would: a minimal system made by debootstrap (once, cached), copied anew for
# each run into a folder of its own, with a fresh clone of this checkout's committed HEAD and
# the folder ../shared beside each other inside (shared read-only, as CI lays it). /proc, /sys
# and /dev are mounted into it for the run; everything is unmounted and the folder removed
# afterwards, whatever the outcome. Exits with scripts/test.sh's status.
#
#   debian13-test.sh
#
# Needs root (debootstrap, chroot, mounts); installs debootstrap where it is missing. The
# network inside is this machine's: QUORVO_DB_ADDRESS passes through, as does CI. QUORVO_SHARED
# names another shared folder. QUORVO_DEBIAN13_CACHE (default ~/.cache/quorvo-debian13) keeps
# base/ (the debootstrapped system) and, between runs, apt's package lists and the packages that
# it downloads inside and root's cache folder inside (the peer servers, the Windows SDK
# unpacked), so that a second run fetches nothing again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shared=$(realpath "${QUORVO_SHARED:-$root/../shared}")
cache=${QUORVO_DEBIAN13_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvo-debian13}
[[ $(id -u) -eq 0 ]] || { echo "Run this as root: it uses debootstrap and chroot." >&2; exit 1; }
[[ -d $shared ]] || { echo "No shared folder at $shared (QUORVO_SHARED names another)" >&2; exit 1; }
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock -n 9 || { echo "Another run uses $cache" >&2; exit 1; }

# The base system, made once. The mirror is the one this machine's own apt sources name; it may
# be a frozen copy whose Release files are past their date, which the system's apt is told.
if [[ ! -f $cache/base/.complete ]]; then
    if ! command -v debootstrap >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
    fi
    mirror=$("$root/scripts/peer-server.sh" mirror)
    rm -rf "$cache/base.new"
    echo "Making a Debian 13 system in $cache/base from $mirror" >&2
    debootstrap --variant=minbase trixie "$cache/base.new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
    echo 'Acquire::Check-Valid-Until "false";' >"$cache/base.new/etc/apt/apt.conf.d/99quorvo-valid-until"
    # Nothing that apt installs starts a service in the folder.
    printf '#!/bin/sh\nexit 101\n' >"$cache/base.new/usr/sbin/policy-rc.d"
    chmod +x "$cache/base.new/usr/sbin/policy-rc.d"
    touch "$cache/base.new/.complete"
    rm -rf "$cache/base"
    mv "$cache/base.new" "$cache/base"
fi

run=$(mktemp -d "$cache/run.XXXXXX")
mounts=()
cleanup() {
    local status=$? i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -R "${mounts[i]}" 2>/dev/null || umount -lR "${mounts[i]}" || true
    done
    # Only once nothing is mounted inside any more is the folder removed.
    if findmnt -rno TARGET | grep -q "^$run/"; then
        echo "Left $run: something is still mounted in it" >&2
    else
        rm -rf "$run"
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM
bind() {
    mkdir -p "$2"
    mount --bind "$1" "$2"
    mounts+=("$2")
}

echo "Copying the Debian 13 system into $run" >&2
cp -a "$cache/base/." "$run/"
cp /etc/resolv.conf "$run/etc/resolv.conf"
mkdir -p "$cache/archives/partial" "$cache/lists/partial" "$cache/home-cache"
mkdir -p "$run/proc" "$run/sys" "$run/dev"
mount -t proc proc "$run/proc" && mounts+=("$run/proc")
mount --rbind /sys "$run/sys" && mount --make-rslave "$run/sys" && mounts+=("$run/sys")
mount --rbind /dev "$run/dev" && mount --make-rslave "$run/dev" && mounts+=("$run/dev")
bind "$cache/archives" "$run/var/cache/apt/archives"
bind "$cache/lists" "$run/var/lib/apt/lists"
bind "$cache/home-cache" "$run/root/.cache"
bind "$shared" "$run/src/shared"
mount -o remount,bind,ro "$run/src/shared"
git clone -q "$root" "$run/src/quorvo"

echo "Running scripts/test.sh in Debian 13 ($(cat "$run/etc/debian_version"))" >&2
# apt keeps what it downloads, for the next run.
echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$run/etc/apt/apt.conf.d/99quorvo-keep"
chroot "$run" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${QUORVO_DB_ADDRESS:+QUORVO_DB_ADDRESS=$QUORVO_DB_ADDRESS} \
    ${CI:+CI=$CI} \
    bash -c 'cd /src/quorvo && scripts/test.sh'
