#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt of the Windows zip to standard output: what of others the zip
# holds, the exact sources it was built from, and the full licence texts, copied from Debian's
# common-licenses and the copyright files of the Debian packages concerned: for Qt and
# Connector/C those of the Debian 12 packages that the SDK was built from, kept in the SDK's
# folder debian-copyright/ (scripts/build-windows.sh puts them there); for the runtime this
# machine's, whose DLLs the zip carries.
#
#   third-party-notices.sh SDK VERSION RUNTIME-DLL...
#
# SDK is the Windows Qt SDK that the program was built against, VERSION the program's version,
# RUNTIME-DLL the compiler's runtime DLLs as copied from this machine. The versions are read
# from the SDK and from dpkg, never assumed: where one cannot be found, this fails.
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: $0 SDK VERSION RUNTIME-DLL..." >&2; exit 2; }
sdk=$1 version=$2
shift 2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fail() { echo "third-party-notices.sh: $*" >&2; exit 1; }

# Qt: the SDK's version, and the Debian source package that scripts/windows-sdk.sh builds.
qt=$(sed -n 's/^set(PACKAGE_VERSION "\([0-9.]*\)")$/\1/p' "$sdk/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake")
qt_source=$(sed -n 's/^qt_version=//p' "$root/scripts/windows-sdk.sh")
[[ -n $qt && $qt_source == "$qt+"* ]] || fail "the SDK's Qt ($qt) is not qt6-base $qt_source"
# Connector/C: its own version, and the MariaDB release whose sources held it (the source path
# that its plugins record for their messages).
connector=$(sed -n 's/^#define MARIADB_PACKAGE_VERSION "\(.*\)"$/\1/p' "$sdk/include/mariadb/mariadb_version.h")
mariadb=$(cat "$sdk"/lib/mariadb/*.dll "$sdk"/lib/mariadb/plugin/*.dll |
    grep -a -o 'mariadb-[0-9][0-9.]*[0-9]/libmariadb/' |
    sed -n '1{s|^mariadb-||; s|/libmariadb/$||; p}')
[[ -n $connector && -n $mariadb ]] || fail "no Connector/C or MariaDB version in $sdk"
# Debian's version of that release, where apt still knows it; the upstream archive is the same.
mariadb_debian=$(apt-cache madison libmariadb3 2>/dev/null | awk -v v="1:$mariadb-" \
    'index($3, v) == 1 { print $3; exit }')
mariadb_debian=${mariadb_debian:-"(upstream version $mariadb)"}

# The runtime: the Debian packages that hold the DLLs copied, and their source packages.
owner() { dpkg -S "$1" | sed -n '1s/: .*//p'; }
source_of() {
    dpkg-query -W -f='${source:Package} ${source:Version}' "$1"
}
binary() {
    dpkg-query -W -f='${Package} ${Version}' "$1"
}
gcc_package= pthread_package=
for dll in "$@"; do
    case $(basename "$dll") in
    libwinpthread-1.dll) pthread_package=$(owner "$dll") ;;
    *) gcc_package=$(owner "$dll") ;;
    esac
done
[[ -n $gcc_package && -n $pthread_package ]] || fail "no Debian package holds the runtime DLLs"
gcc=$(dpkg-query -W -f='${Version}' "$gcc_package" | cut -d- -f1)
pthread=$(dpkg-query -W -f='${Version}' "$pthread_package" | cut -d- -f1)

# A licence text, whole, under a title and where Debian has it (the file's path by default).
text() {
    [[ -f $2 ]] || fail "$2 is missing"
    printf '\n\n%s\n%s\n(%s)\n\n' "$1" "$(printf '%*s' ${#1} '' | tr ' ' '=')" "${3:-$2}"
    cat "$2"
}
copyright() {
    echo "/usr/share/doc/$1/copyright"
}

cat <<EOF
Quorvo Setup $version for Windows: the software of others in this folder
==========================================================================

Quorvo Setup itself is under the MIT License (LICENSE.txt). Beside it this folder holds the
software of others below, each in libraries (DLLs) of its own, which you may replace with builds
of your own from the sources named here. The licence texts follow in full, from A to G.

1. Qt $qt (qtbase)
   Files:   Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, Qt6Sql.dll, platforms\\qwindows.dll,
            styles\\*.dll, sqldrivers\\qsqlmysql.dll
   Licence: the GNU Lesser General Public License version 3 (A), which adds to the GNU General
            Public License version 3 (B); the copyright holders and the licences of the parts
            of others within Qt are in Debian's copyright file of qt6-base (C).
   Source:  Debian's source package qt6-base $qt_source (Debian 12), with Debian's patches,
            built shared and for release with the MySQL driver; no OpenGL, network, D-Bus or
            XML. Two changes: Debian's source leaves out src/3rdparty/wintab, whose headers
            stand in from Wine (wintab.h and pktdef.h of Debian's libwine-dev, LGPL 2.1 or
            later, D); and the Windows platform plugin uses the DirectWrite font database only
            where Direct2D is built too (qwindowsintegration.cpp), as it is not here.

2. MariaDB Connector/C $connector, the MySQL client library
   Files:   libmariadb.dll, plugin\\*.dll
   Licence: the GNU Lesser General Public License version 2.1 (D); the copyright holders and
            the licences of its other parts (zlib, which it holds) are in Debian's copyright
            file of mariadb (E).
   Source:  the folder libmariadb/ of mariadb_$mariadb.orig.tar.gz, without changes: the
            upstream source of Debian's source package mariadb $mariadb_debian.
            Built for release, with TLS through Windows' own Schannel.

3. The runtime of the GNU C++ compiler (GCC $gcc)
   Files:   libstdc++-6.dll, libgcc_s_seh-1.dll
   Licence: the GNU General Public License version 3 (B) with the GCC Runtime Library
            Exception, version 3.1, whose text is in Debian's copyright file of
            gcc-mingw-w64 (F), as are the copyright holders.
   Source:  Debian's source package $(source_of "$gcc_package"), which builds GCC from Debian's
            gcc-${gcc%%.*} sources: binary package $(binary "$gcc_package").

4. winpthreads (mingw-w64 $pthread), the threads of the compiler's runtime
   Files:   libwinpthread-1.dll
   Licence: the MIT (Expat) licence and BSD licences, whose texts are in Debian's copyright
            file of mingw-w64 (G), as are the copyright holders.
   Source:  Debian's source package $(source_of "$pthread_package"):
            binary package $(binary "$pthread_package").

5. How to rebuild them
   Debian's source packages are at https://deb.debian.org/debian/pool/main/ and every version
   ever published at https://snapshot.debian.org/ ("apt-get source qt6-base=$qt_source" on
   Debian 12). scripts/windows-sdk.sh in the source of Quorvo Setup $version builds Qt and
   Connector/C from them, with the changes above, using Debian's mingw-w64 cross compilers;
   scripts/build-windows.sh then builds the program against them and makes this zip, with the
   runtime DLLs of Debian's packages named in 3 and 4.
EOF
texts=$sdk/debian-copyright
licence() { text "$1" "$texts/$2" "Debian 12: /usr/share/common-licenses/$2"; }
licence "A. GNU Lesser General Public License, version 3" LGPL-3
licence "B. GNU General Public License, version 3" GPL-3
text "C. Qt: Debian's copyright file of qt6-base" "$texts/qt6-base" \
    "Debian 12: /usr/share/doc/libqt6core6/copyright"
licence "D. GNU Lesser General Public License, version 2.1" LGPL-2.1
text "E. MariaDB Connector/C: Debian's copyright file of mariadb" "$texts/mariadb" \
    "Debian 12: /usr/share/doc/libmariadb3/copyright"
text "F. GCC runtime: Debian's copyright file of gcc-mingw-w64" "$(copyright "$gcc_package")"
text "G. winpthreads: Debian's copyright file of mingw-w64" "$(copyright "$pthread_package")"
