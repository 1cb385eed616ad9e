#!/bin/sh
# Installs the Debian packages that building, running and testing need,
# and only those that are missing.
set -e
PKGS="cmake ninja-build g++ make pkg-config libpcre2-dev libgtest-dev libgmock-dev googletest
libbenchmark-dev qt6-base-dev libgl-dev xvfb xdotool x11-utils imagemagick xauth
fonts-ipafont-gothic python3 python3-xlib clang libclang-rt-14-dev"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
