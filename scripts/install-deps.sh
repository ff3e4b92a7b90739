#!/usr/bin/env bash
# Installs the Debian 12 or 13 packages that building, running and testing need, where missing.
# As root it installs them; otherwise it prints the one command to run and fails.
set -euo pipefail

# The server's core only: the full server package would start a system-wide server on port 3306
# at install time, where the scripts start a private one.
packages=(
    cmake g++ make pkgconf dpkg-dev lintian
    qt6-base-dev libqt6sql6-mysql
    mariadb-server-core mariadb-client openssl
    # The benchmark builds its floor against the client library and watches windows map.
    libmariadb-dev x11-utils
    python3
    xvfb xdotool x11-xserver-utils imagemagick fonts-dejavu-core
    tesseract-ocr tesseract-ocr-eng
    # The end-to-end test also reads the window as a screen reader does, over AT-SPI.
    at-spi2-core python3-pyatspi dbus-daemon
    # ... and is heard through a real screen reader, Orca, with a speech server and a voice.
    orca speech-dispatcher speech-dispatcher-espeak-ng
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
    echo "These packages are missing. Install them as root, then run this again:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
