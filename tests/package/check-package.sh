#!/usr/bin/env bash
# Builds the .deb from the current build with cpack and runs lintian on it; fails on any error
# (E:) or warning (W:) line, and on a program that lintian finds built without the hardening
# flags. Skips (exit 77) with a one-line reason where dpkg-deb or lintian is missing.
#
#   check-package.sh CPACK CPACK_CONFIG OUTPUT_DIR
set -euo pipefail
cpack=$1 config=$2 out=$3

for tool in dpkg-deb lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "Skipped: $tool is not installed (apt-get install $tool)."
        exit 77
    fi
done

rm -rf "$out"
mkdir -p "$out"
if ! "$cpack" -G DEB --config "$config" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    echo "cpack could not build the package." >&2
    exit 1
fi
debs=("$out"/*.deb)
echo "Package: ${debs[0]}"
dpkg-deb --contents "${debs[0]}"

# Lintian prints informational tags (I:) too, so that those about hardening can be checked; they
# hold for every build type but _FORTIFY_SOURCE, which only optimised builds have.
report=$(lintian --display-info "${debs[0]}" 2>&1 || true)
echo "$report"
if grep -E '^[EW]: |^I: .*hardening-no-(relro|bindnow|pie)' <<<"$report" >/dev/null; then
    echo "lintian finds faults in the package (lines above)." >&2
    exit 1
fi
