#!/bin/sh
# Runs every benchmark binary of a build: scripts/bench.sh <builddir>
set -e
build="${1:?usage: scripts/bench.sh <builddir>}"
dir="$build/bench"
if [ ! -d "$dir" ]; then
  echo "no benchmarks in $dir (configure with VM_BENCH=ON)" >&2
  exit 1
fi
status=0
found=0
for bin in "$dir"/*; do
  [ -f "$bin" ] && [ -x "$bin" ] || continue
  found=1
  echo "== $(basename "$bin")"
  "$bin" || status=1
done
[ "$found" -eq 1 ] || { echo "no benchmark binaries in $dir" >&2; exit 1; }
exit $status
