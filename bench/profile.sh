#!/usr/bin/env bash
# Where the engine's time goes: runs one orva-bench engine pass (AddVolume,
# CreateDatabase, the benchmark queries, 200 rows) under valgrind's callgrind on a
# benchmark volume that bench/run.sh made, and prints the functions by their own and by
# inclusive instruction count.
#
#   bench/profile.sh [ENTRIES]     ENTRIES: 100000 (default) or 1000000
#
# Builds with debug information in build-bench-prof/. Instruction counts say what the
# processor executes, not what waits on memory: read them beside run.sh's timings.
set -euo pipefail
export LC_ALL=C.UTF-8
root=$(cd "$(dirname "$0")/.." && pwd)
entries=${1:-100000}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orva-bench
generator=$(cat "$root/bench/NameGenerator.cpp" "$root/bench/NameGenerator.h" | sha1sum | cut -c1-12)
image=$cache/$entries-$generator/volume.img
[ -s "$image" ] || { echo "profile.sh: no $entries-entry volume yet; run bench/run.sh first" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "profile.sh: valgrind is not installed" >&2; exit 2; }

build=$root/build-bench-prof
nice -n 10 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVA_BUILD_DESKTOP=OFF \
  -DORVA_BUILD_TESTS=OFF >/dev/null
nice -n 10 cmake --build "$build" -j "$(nproc)" --target orva-bench orva-drive >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/orva-profile.XXXXXX")
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
trap 'rm -rf "$work"' EXIT
"$build/bin/orva-drive" attach P: "$image" >/dev/null
(cd "$work" && nice -n 10 valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
   "$build/bin/orva-bench" engine P 1 --no-check >"$work/figures" 2>"$work/valgrind.err")
cp "$work/callgrind.out" "$cache/callgrind-$entries.out"
# callgrind_annotate names a function once per source file it spans: keep the first.
# head ends the pipe early, which is no failure.
set +o pipefail
top() { # PATTERN [callgrind_annotate options]
  local pattern=$1; shift
  callgrind_annotate --auto=no "$@" "$work/callgrind.out" | sed -n '/file:function/,$p' | tail -n +3 |
    sed -E 's# \[[^]]*\]$##; s#(  )[^ ]*/([^/:]+):#\1\2:#' | grep -E "$pattern" |
    awk '{ key = substr($0, index($0, "  ") + 2); sub(/^[^:]*:/, "", key) } !seen[key]++' | head -n 25
}
echo "Instructions by function, the function's own (all threads):"
top .
echo
echo "Instructions by engine and platform entry point, callees included:"
top 'COrvaService::|NameMatcher::|ScanLaidOut|DeviceIoControl|GetFileAttributesExW|HighestUsn' --inclusive=yes
echo "(full profile: $cache/callgrind-$entries.out)"
