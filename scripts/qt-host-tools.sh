#!/usr/bin/env bash
# Prints, on two lines, the QT_HOST_PATH and QT_HOST_PATH_CMAKE_DIR of Qt host tools (moc, rcc,
# uic) of version VERSION, as a cross build against a Windows Qt SDK of that version needs: the
# system's /usr where its Qt is that version (6.4.2 on Debian 12); for 6.4.2 elsewhere, Debian
# 12's packages of them, unpacked by scripts/peer-server.sh (kind wintools) and run there.
#
#   qt-host-tools.sh VERSION
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 VERSION" >&2; exit 2; }
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version_of() {
    sed -n 's/^set(PACKAGE_VERSION "\([0-9.]*\)")$/\1/p' \
        "$1/lib/x86_64-linux-gnu/cmake/Qt6CoreTools/Qt6CoreToolsConfigVersionImpl.cmake" 2>/dev/null
}
host=/usr
if [[ $(version_of "$host") != "$1" ]]; then
    [[ $1 == 6.4.2 ]] || { echo "No Qt host tools of version $1 here" >&2; exit 1; }
    host=$("$scripts/peer-server.sh" wintools fetch | tail -n 1)/usr
    [[ $(version_of "$host") == "$1" ]] || { echo "Debian 12's Qt host tools are not $1" >&2; exit 1; }
fi
echo "$host"
echo "$host/lib/x86_64-linux-gnu/cmake"
