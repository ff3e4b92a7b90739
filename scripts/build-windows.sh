#!/usr/bin/env bash
# Cross-builds quorvo-setup.exe for 64-bit Windows with Debian's mingw-w64 and packs it with
# everything it needs to run into build-windows/quorvo-setup-<version>-windows-x64.zip:
# unzip and run, nothing else to install.
#
# The Windows Qt SDK is, in this order: the folder in QUORVO_WIN_SDK; the prebuilt archive
# ../shared/winsdk/quorvo-winsdk-qt6.4.2-mingw64.tar.xz (QUORVO_WIN_SDK_ARCHIVE names another),
# unpacked once into the cache folder; or one that scripts/windows-sdk.sh builds once from
# Debian's source packages into the cache folder (about 40 minutes on two cores).
# QUORVO_WIN_BUILD_DIR picks another build folder. Prints the zip's path as its last line.
#
# Qt's host tools (moc, rcc, uic) are those of the SDK's Qt version, whatever Qt this machine
# has (scripts/qt-host-tools.sh). The licence texts and copyright files of the Debian 12
# packages that the SDK was built from come unpacked by scripts/peer-server.sh (kind wintools)
# and are kept with the SDK in its folder debian-copyright/, for the zip's notices.
#
#   build-windows.sh [--no-sdk-build] [--print-sdk]
#       --no-sdk-build  exits with 77 where no SDK is at hand rather than building one (tests)
#       --print-sdk     only finds the SDK (with its texts) and prints its folder
set -euo pipefail
build_sdk=1 print_sdk=0
for option in "$@"; do
    case $option in
    --no-sdk-build) build_sdk=0 ;;
    --print-sdk) print_sdk=1 ;;
    *) echo "usage: $0 [--no-sdk-build] [--print-sdk]" >&2; exit 2 ;;
    esac
done
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvo
build=${QUORVO_WIN_BUILD_DIR:-$root/build-windows}
mingw=x86_64-w64-mingw32

packages=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev zip xz-utils)
missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "These packages are missing. Install them as root, then run this again:" >&2
        echo "  apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Builds in other checkouts on this machine share the cache: one at a time unpacks into it or
# builds against it.
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

# The SDK: the first of the three places that has one.
sdk=${QUORVO_WIN_SDK:-}
archive=${QUORVO_WIN_SDK_ARCHIVE:-$root/../shared/winsdk/quorvo-winsdk-qt6.4.2-mingw64.tar.xz}
if [[ -z $sdk ]]; then
    if [[ -f $archive ]]; then
        sdk=$cache/winsdk-$(basename "$archive" .tar.xz)/sdk
        if [[ ! $sdk/.unpacked -nt $archive ]]; then
            echo "Unpacking $(basename "$archive") into $(dirname "$sdk")" >&2
            rm -rf "$(dirname "$sdk")"
            mkdir -p "$(dirname "$sdk")"
            tar -xJf "$archive" -C "$(dirname "$sdk")"
            touch "$sdk/.unpacked"
        fi
    else
        sdk=$cache/winsdk-built/sdk
        if [[ ! -f $sdk/.complete ]]; then
            if [[ $build_sdk == 0 ]]; then
                echo "No Windows SDK: neither QUORVO_WIN_SDK, nor $archive, nor one built before" >&2
                exit 77
            fi
            "$root/scripts/windows-sdk.sh" "$(dirname "$sdk")"
        fi
    fi
fi
if [[ ! -f $sdk/lib/cmake/Qt6/Qt6Config.cmake ]]; then
    echo "No Windows Qt SDK in $sdk" >&2
    exit 1
fi
sdk_qt=$(sed -n 's/^set(PACKAGE_VERSION "\([0-9.]*\)")$/\1/p' \
    "$sdk/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake")
tools=$("$root/scripts/peer-server.sh" wintools fetch | tail -n 1)
texts=$sdk/debian-copyright
if [[ ! -f $texts/.complete ]]; then
    mkdir -p "$texts"
    cp "$tools"/usr/share/common-licenses/{LGPL-3,GPL-3,LGPL-2.1} "$texts/"
    cp "$tools/usr/share/doc/libqt6core6/copyright" "$texts/qt6-base"
    cp "$tools/usr/share/doc/libmariadb3/copyright" "$texts/mariadb"
    touch "$texts/.complete"
fi
[[ $print_sdk == 1 ]] && { echo "$sdk"; exit 0; }
host=$("$root/scripts/qt-host-tools.sh" "$sdk_qt")

# Release, with the project's warnings as errors as on Linux. The SDK has no Qt Test.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64-toolchain.cmake" -DQUORVO_WIN_SDK="$sdk" \
    -DQT_HOST_PATH="$(head -n 1 <<<"$host")" -DQT_HOST_PATH_CMAKE_DIR="$(tail -n 1 <<<"$host")" \
    >/dev/null
cmake --build "$build" --target quorvo-setup -j"${QUORVO_JOBS:-2}"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=quorvo-setup-$version-windows-x64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage"/{platforms,styles,sqldrivers,plugin}
cp "$build/quorvo-setup.exe" "$stage/"
for module in Core Gui Widgets Sql; do
    cp "$sdk/bin/Qt6$module.dll" "$stage/"
done
cp "$sdk/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$sdk/plugins/styles/"*.dll "$stage/styles/"
cp "$sdk/plugins/sqldrivers/qsqlmysql.dll" "$stage/sqldrivers/"
cp "$sdk/lib/mariadb/libmariadb.dll" "$stage/"
# The client library's login plugins, for accounts of MySQL 8's default kind and of MariaDB's
# ed25519 and PAM; the program points the library at them.
cp "$sdk/lib/mariadb/plugin/"*.dll "$stage/plugin/"
# The runtime of the posix-thread compiler, which the program and the SDK were built with.
gcc_runtime=$(dirname "$("$mingw-g++-posix" -print-libgcc-file-name)")
runtime=("$gcc_runtime/libstdc++-6.dll" "$gcc_runtime/libgcc_s_seh-1.dll"
    "/usr/$mingw/lib/libwinpthread-1.dll")
cp "${runtime[@]}" "$stage/"
# What a publisher ships beside the program, in Windows' line ends: its licence, the software
# of others in the folder with their licences and sources, and a short README.txt.
windows_lines() { sed 's/\r*$/\r/'; }
windows_lines <"$root/LICENSE" >"$stage/LICENSE.txt"
sed "s/@VERSION@/$version/g" "$root/packaging/windows/README.txt.in" | windows_lines >"$stage/README.txt"
"$root/packaging/windows/third-party-notices.sh" "$sdk" "$version" "${runtime[@]}" |
    windows_lines >"$stage/THIRD-PARTY-NOTICES.txt"
"$mingw-strip" --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll

# Every DLL that the program and its plugins load is in the folder or part of Windows (mingw-w64
# has an import library for each of those, and Windows' API sets are named api-ms-win-*).
for binary in "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll; do
    for dll in $("$mingw-objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
        lower=${dll,,}
        [[ -e $stage/$dll || $lower == api-ms-win-* || -e /usr/$mingw/lib/lib${lower%.dll}.a ]] && continue
        echo "$(basename "$binary") needs $dll, which is neither in the package nor part of Windows" >&2
        exit 1
    done
done

(cd "$build" && zip -qr9 "$name.zip" "$name")
echo "$build/$name.zip"
