#!/bin/sh
# Installs every Debian package that building and testing Postwatch needs.
# Quiet and quick when everything is already there.
set -eu

PACKAGES="cmake ninja-build clang libclang-rt-14-dev pkg-config make
qt6-base-dev qt6-base-dev-tools qt6-svg-dev
nettle-dev libssl-dev libcurl4-openssl-dev libxml2-dev
libgtest-dev libgmock-dev libbenchmark-dev clang-format
dovecot-core dovecot-pop3d dovecot-imapd openssl python3
python3-dbusmock dbus-daemon
qt6-multimedia-dev
xvfb trayer xdotool imagemagick
desktop-file-utils appstream dpkg-dev
libassimp-dev libgl1-mesa-dri mesa-utils xcompmgr libqt6opengl6-dev libxcb-shape0-dev
libsecret-1-dev gnome-keyring"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "bootstrap: installing$missing" >&2
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
