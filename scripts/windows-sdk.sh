#!/usr/bin/env bash
# Builds the Windows SDK that scripts/build-windows.sh compiles against, from Debian 12's own
# source packages with Debian's mingw-w64 cross compilers (x86_64, posix threads):
#   MariaDB Connector/C (libmariadb/ of the mariadb 10.11 sources), TLS through schannel;
#   qtbase 6.4.2 (qt6-base, with Debian's patches): Core, Gui, Widgets, Sql, the Windows platform
#   plugin, the Windows styles and the MySQL driver; shared, release; no OpenGL, network, D-Bus,
#   XML or Qt Test.
#
#   windows-sdk.sh DIR     the SDK lands in DIR/sdk; DIR/sdk/.complete marks it finished
#
# About 40 minutes on two cores and 1.5 GB of scratch space in DIR/work. Needs root for
# apt-get. A second call goes on after the last finished step (stamp files in DIR/work).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[[ $# -eq 1 ]] || { echo "usage: $0 DIR" >&2; exit 2; }
mkdir -p "$1"
dir=$(realpath "$1")
sdk=$dir/sdk
work=$dir/work
jobs=${QUORVO_JOBS:-2}
qt_version=6.4.2+dfsg-10
mkdir -p "$sdk" "$work"
cd "$work"

# 1. Tools. Qt's host tools (moc, rcc, uic) must be of the same version as the sources, whatever
# Qt the system has (scripts/qt-host-tools.sh).
if [[ ! -e stamp.tools ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "Run this as root: it installs Debian packages." >&2; exit 1; }
    export DEBIAN_FRONTEND=noninteractive
    # apt-get source needs the source entries beside the binary ones.
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
        if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
                >/etc/apt/sources.list.d/quorvo-deb-src.sources
        else
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/quorvo-deb-src.list
        fi
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix \
        gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev cmake ninja-build qt6-base-dev \
        qt6-base-dev-tools dpkg-dev xz-utils >/dev/null
    touch stamp.tools
fi
host=$("$root/scripts/qt-host-tools.sh" "${qt_version%%+*}")
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64-toolchain.cmake" -DQUORVO_WIN_SDK="$sdk")

# 2. Sources: Debian's qt6-base and mariadb source packages, of mariadb only libmariadb/.
if [[ ! -e stamp.sources ]]; then
    ls qt6-base_"$qt_version".dsc >/dev/null 2>&1 || apt-get source --download-only "qt6-base=$qt_version"
    # The newest source may be missing on a mirror (the security archive's, say); the release's
    # own does as well: only its client library is used.
    ls mariadb_10.11.*.orig.tar.gz >/dev/null 2>&1 || apt-get source --download-only mariadb ||
        apt-get source --download-only mariadb/bookworm
    rm -rf qtbase-src
    dpkg-source -x "qt6-base_$qt_version.dsc" qtbase-src
    mariadb_tar=$(ls mariadb_10.11.*.orig.tar.gz | sort -V | tail -1)
    # (head ends the listing early, which is no failure here.)
    mariadb_top=$(set +o pipefail; tar tzf "$mariadb_tar" | head -1 | cut -d/ -f1)
    tar xzf "$mariadb_tar" --wildcards "$mariadb_top/libmariadb/*"
    ln -sfn "$mariadb_top/libmariadb" connc-src

    # Debian's sources leave out src/3rdparty/wintab (not free), which the Windows plugin
    # includes: Wine's LGPL headers from libwine-dev stand in, with the two macros they need.
    rm -rf wine-dev && mkdir wine-dev
    (cd wine-dev && apt-get download libwine-dev && dpkg-deb -x libwine-dev_*.deb x)
    wintab=qtbase-src/src/3rdparty/wintab
    mkdir -p "$wintab"
    cp wine-dev/x/usr/include/wine/wine/windows/wintab.h "$wintab/wine_wintab.h"
    cp wine-dev/x/usr/include/wine/wine/windows/pktdef.h "$wintab/pktdef.h"
    cat >"$wintab/wintab.h" <<'EOF'
/* Wine's LGPL wintab.h (Debian's libwine-dev) with the Wine macros it needs. */
#ifndef QUORVO_WINTAB_H
#define QUORVO_WINTAB_H
#include <windows.h>
#ifndef WINELIB_NAME_AW
# ifdef UNICODE
#  define WINELIB_NAME_AW(func) func##W
#  define DECL_WINELIB_TYPE_AW(type) typedef type##W type;
# else
#  define WINELIB_NAME_AW(func) func##A
#  define DECL_WINELIB_TYPE_AW(type) typedef type##A type;
# endif
#endif
#ifndef API
# define API WINAPI
#endif
#include "wine_wintab.h"
#endif
EOF
    # qtbase 6.4.2 builds the DirectWrite font database only with Direct2D, but the Windows
    # plugin uses it whenever DirectWrite 3 is on: without Direct2D it would not link.
    integration=qtbase-src/src/plugins/platforms/windows/qwindowsintegration.cpp
    sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$integration"
    [[ $(grep -c 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' "$integration") == 2 ]]
    touch stamp.sources
fi

# 3. MariaDB Connector/C into $sdk/include/mariadb and $sdk/lib/mariadb.
if [[ ! -e stamp.connector ]]; then
    rm -rf connector-build
    nice cmake -S connc-src -B connector-build -G Ninja "${toolchain[@]}" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sdk" -DWITH_SSL=SCHANNEL \
        -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_MSI=OFF -DWITH_EXTERNAL_ZLIB=OFF
    nice ninja -C connector-build -j"$jobs"
    ninja -C connector-build install
    touch stamp.connector
fi

# 4. qtbase for Windows, with those host tools.
if [[ ! -e stamp.qt ]]; then
    rm -rf qt-build
    nice cmake -S qtbase-src -B qt-build -G Ninja "${toolchain[@]}" \
        -DQT_HOST_PATH="$(head -n 1 <<<"$host")" -DQT_HOST_PATH_CMAKE_DIR="$(tail -n 1 <<<"$host")" \
        -DCMAKE_INSTALL_PREFIX="$sdk" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF \
        -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
        -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
        -DFEATURE_sql=ON -DFEATURE_sql_mysql=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_odbc=OFF \
        -DFEATURE_sql_psql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF \
        -DMySQL_INCLUDE_DIR="$sdk/include/mariadb" \
        -DMySQL_LIBRARY="$sdk/lib/mariadb/liblibmariadb.dll.a"
    nice ninja -C qt-build -j"$jobs"
    ninja -C qt-build install
    touch stamp.qt
fi
touch "$sdk/.complete"
echo "Windows SDK ready in $sdk"
