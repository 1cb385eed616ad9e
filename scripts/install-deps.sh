#!/bin/sh
# install-deps.sh [run|test]: installs the packages that are missing for
#   run   building and running the program (and the stand-in host; with no
#         display, the virtual X server and tools of run.sh's scripted demo),
#   test  all that, and the test tools (GoogleTest, Google Benchmark, Clang
#         for the fuzz targets, the X tools of the window tests, npm for the
#         macOS compile check). The default.
# Homebrew formulae on macOS; elsewhere Debian packages, which needs Debian
# 12 or a derivative (dpkg and apt-get); installing needs root, or sudo for
# any other user. A user who has neither is told which packages are missing
# and the one command that installs them. The package manager's output goes
# to build-logs/install-deps.log in the clone; only its end is shown, and
# only when it fails.
set -e
me="${0##*/}"
set_name=${1:-test}
case "$set_name" in
  run | test) ;;
  *)
    echo "usage: $me [run|test]" >&2
    exit 2
    ;;
esac

# Without a display, run.sh plays its demo under a virtual X server.
no_display=no
[ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && no_display=yes

# The log: in the clone, or in the temporary folder when the clone takes no
# new file.
log_file() {
  root=$(cd "$(dirname "$0")/.." && pwd)
  if mkdir -p "$root/build-logs" 2>/dev/null && : >"$root/build-logs/install-deps.log" 2>/dev/null; then
    echo "$root/build-logs/install-deps.log"
  else
    mktemp "${TMPDIR:-/tmp}/vellowmark-install-deps.XXXXXX"
  fi
}

# Runs the command with its output in $LOG; on failure shows the end of it.
logged() {
  if "$@" >>"$LOG" 2>&1; then return 0; else status=$?; fi
  echo "$me: '$*' failed (status $status); the end of $LOG:" >&2
  tail -n 25 "$LOG" >&2
  exit "$status"
}

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
  libs=libpcre2-8:pcre2
  [ "$set_name" = test ] && libs="$libs gtest:googletest benchmark:google-benchmark"
  for lib in $libs; do
    pkg-config --exists "${lib%%:*}" 2>/dev/null || missing="$missing ${lib#*:}"
  done
  command -v brew >/dev/null 2>&1 && ! brew list --versions qt >/dev/null 2>&1 && missing="$missing qt"
  [ -z "$missing" ] && exit 0
  if ! command -v brew >/dev/null 2>&1; then
    echo "$me: missing:$missing; install them with Homebrew (https://brew.sh)" >&2
    echo "$me: or another package manager, together with Qt 6" >&2
    exit 1
  fi
  LOG=$(log_file)
  echo "$me: installing for $set_name:$missing (Homebrew's output: $LOG)"
  # shellcheck disable=SC2086  # one word per formula
  logged brew install $missing
  exit 0
fi

# Building and running: the compiler and build tools, PCRE2 and Qt 6 (whose
# CMake files ask for the GL headers; the window asks the X server for
# event times through xcb), and the Japanese font the sample
# document and rule sets are shown in.
PKGS="cmake ninja-build g++ make pkg-config libpcre2-dev qt6-base-dev libgl-dev libxcb1-dev
fonts-ipafont-gothic"
# run.sh's scripted demo: the virtual X server, a tool that finds and clicks
# the window, and Python's Xlib to close it.
DEMO="xvfb xdotool python3 python3-xlib"
# The tests: GoogleTest, Google Benchmark, Clang and its sanitizer runtimes
# for the fuzz targets, and the X tools and screenshots of the window tests.
TESTS="libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev
x11-utils imagemagick xauth"
if [ "$set_name" = test ]; then
  PKGS="$PKGS $DEMO $TESTS"
  # The macOS compile check installs its toolchain with npm; a machine that
  # has no npm of its own gets Debian's.
  command -v npm >/dev/null 2>&1 || PKGS="$PKGS npm"
elif [ "$no_display" = yes ]; then
  PKGS="$PKGS $DEMO"
fi

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  # shellcheck disable=SC2086  # the list on one line
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
LOG=$(log_file)
count=$(echo "$missing" | wc -w)
echo "$me: installing $count packages for $set_name: $missing (apt-get's output: $LOG)"
logged $SUDO apt-get update
# sudo resets the environment, so the front end is passed through env.
# shellcheck disable=SC2086  # one word per package
logged $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
