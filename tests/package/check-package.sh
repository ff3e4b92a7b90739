#!/usr/bin/env bash
# Builds the .deb as the user guide does, in a release build of its own, and runs lintian on it;
# fails on any error (E:) or warning (W:) line, and on a program that lintian finds built
# without a hardening flag. Skips (exit 77) with a one-line reason where dpkg-deb or lintian is
# missing.
#
#   check-package.sh CMAKE CPACK SOURCE_DIR BUILD_DIR
set -euo pipefail
cmake=$1 cpack=$2 source=$3 build=$4

for tool in dpkg-deb lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "Skipped: $tool is not installed (apt-get install $tool)."
        exit 77
    fi
done

# The build is kept between runs, so that a second run only builds what changed.
log=$build/package.log
mkdir -p "$build"
rm -f "$build"/*.deb
if ! { "$cmake" -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
       "$cmake" --build "$build" -j"$(nproc)" &&
       (cd "$build" && "$cpack" -G DEB); } >"$log" 2>&1; then
    cat "$log"
    echo "The package could not be built." >&2
    exit 1
fi
debs=("$build"/*.deb)
echo "Package: ${debs[0]}"
dpkg-deb --contents "${debs[0]}"

# Lintian prints informational tags (I:) too, so that those about hardening can be checked.
# Lintian exits with 1 when it reports tags, and with more when it could not check at all.
status=0
report=$(lintian --display-info "${debs[0]}" 2>&1) || status=$?
echo "$report"
if [[ $status -gt 1 || -z $report && $status -ne 0 ]]; then
    echo "lintian could not check the package (exit status $status)." >&2
    exit 1
fi
if grep -E '^[EW]: |^I: .*hardening-no-' <<<"$report" >/dev/null; then
    echo "lintian finds faults in the package (lines above)." >&2
    exit 1
fi
