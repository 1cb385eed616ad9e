#!/bin/sh
# Installs the Debian packages that building, running and testing need,
# and only those that are missing. Needs Debian 12 or a derivative (dpkg and
# apt-get); installing needs root, or sudo for any other user. A user who
# has neither is told which packages are missing and the one command that
# installs them.
set -e
PKGS="cmake ninja-build g++ make pkg-config libpcre2-dev libgtest-dev libgmock-dev googletest
libbenchmark-dev qt6-base-dev libgl-dev xvfb xdotool x11-utils imagemagick xauth
fonts-ipafont-gothic python3 python3-xlib clang libclang-rt-14-dev"
me="${0##*/}"

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "$me: no dpkg-query or apt-get here: this needs Debian 12 or a derivative." \
    "The packages it would install:" $PKGS >&2
  exit 1
fi

missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
missing="${missing# }"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "$me: missing packages: $missing
$me: this user is not root and has no sudo; this one command installs them (it asks for root's password):
  su -c 'apt-get update && apt-get install -y --no-install-recommends $missing'" >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "installing: $missing"
$SUDO apt-get update -qq
# sudo resets the environment, so the front end is passed through env.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
