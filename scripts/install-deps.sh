#!/bin/sh
# Installs the packages that building, running and testing need, and only
# those that are missing: Homebrew formulae on macOS; elsewhere Debian
# packages, which needs Debian 12 or a derivative (dpkg and apt-get);
# installing needs root, or sudo for any other user. A user who has neither
# is told which packages are missing and the one command that installs them.
set -e
me="${0##*/}"

if [ "$(uname -s 2>/dev/null)" = Darwin ]; then
  # macOS: the compiler from Xcode's command line tools, the rest from
  # Homebrew. Only what is missing is installed.
  if ! xcode-select -p >/dev/null 2>&1; then
    echo "$me: the compiler comes with Xcode's command line tools: run xcode-select --install" >&2
    exit 1
  fi
  missing=""
  for tool in cmake:cmake ninja:ninja pkg-config:pkgconf; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing="$missing ${tool#*:}"
  done
  for lib in libpcre2-8:pcre2 gtest:googletest benchmark:google-benchmark; do
    pkg-config --exists "${lib%%:*}" 2>/dev/null || missing="$missing ${lib#*:}"
  done
  command -v brew >/dev/null 2>&1 && ! brew list --versions qt >/dev/null 2>&1 && missing="$missing qt"
  [ -z "$missing" ] && exit 0
  if ! command -v brew >/dev/null 2>&1; then
    echo "$me: missing:$missing; install them with Homebrew (https://brew.sh)" >&2
    echo "$me: or another package manager, together with Qt 6" >&2
    exit 1
  fi
  echo "installing:$missing"
  # shellcheck disable=SC2086  # one word per formula
  brew install $missing
  exit 0
fi

PKGS="cmake ninja-build g++ make pkg-config libpcre2-dev libgtest-dev libgmock-dev googletest
libbenchmark-dev qt6-base-dev libgl-dev libxcb1-dev xvfb xdotool x11-utils imagemagick xauth
fonts-ipafont-gothic python3 python3-xlib clang libclang-rt-14-dev"
# The macOS compile check installs its toolchain with npm; a machine that
# has no npm of its own gets Debian's.
command -v npm >/dev/null 2>&1 || PKGS="$PKGS npm"

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
