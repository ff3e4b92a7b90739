#!/usr/bin/env bash
# Makes quorvo-setup.ico, the icon of the Windows program, from the Linux package's
# packaging/quorvo-setup.svg with Debian's tools (rsvg-convert from librsvg2-bin, icotool from
# icoutils): the sizes that Explorer and the taskbar ask for, and 256 pixels as PNG.
# Run it again after a change of the SVG and commit the result.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
images=()
for size in 16 20 24 32 40 48 64 256; do
    rsvg-convert -w "$size" -h "$size" -o "$work/$size.png" "$here/../quorvo-setup.svg"
    images+=("$work/$size.png")
done
icotool --create --output="$here/quorvo-setup.ico" "${images[@]:0:7}" --raw="$work/256.png"
