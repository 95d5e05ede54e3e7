#!/usr/bin/env bash
# Orva's benchmark suite: one command from a fresh clone.
#
#   bench/run.sh [--small] [--runs N] [--no-write]
#
#   --small     only the 100,000-entry volume (a quick check); default: 100,000 and 1,000,000
#   --runs N    runs of every measurement (default 5; the slowest peers get at most 3)
#   --no-write  print the table without replacing bench/RESULTS.md
#
# Steps: installs what the build needs (scripts/setup.sh) and the peers (plocate, fd-find);
# builds a Release tree in build-bench/; makes each benchmark volume once (the generated
# list, the plain name list and the NTFS image are cached in
# ${XDG_CACHE_HOME:-~/.cache}/orva-bench, keyed by the generator's source); attaches it
# under a drive letter in a drive map of the cache's own; then times Orva (orva-bench: the
# enumeration floor, CreateDatabase and its Perf.log phases, queries, a row, memory; the
# whole orva-search process) and the peers on the same volume: find and fd over an
# ntfs-3g mount (when FUSE allows one), fls -r -p, updatedb + plocate -i -c, and
# grep -F -i -c over the plain name list. Prints one markdown table (medians, ranges,
# ratios to the best peer) and writes it with the machine's description to
# bench/RESULTS.md.
set -euo pipefail
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
sizes=(100000 1000000)
runs=5
write=1
while [ $# -gt 0 ]; do
  case $1 in
    --small) sizes=(100000) ;;
    --runs) runs=${2:?--runs needs a number}; shift ;;
    --no-write) write=0 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs wants a positive number" >&2; exit 2; }
slow_runs=$(( runs < 3 ? runs : 3 ))

say() { echo "bench: $*" >&2; }
heavy() { nice -n 10 "$@"; }

# ---- tools ----
"$root/scripts/setup.sh"
peers=()
command -v plocate >/dev/null || peers+=(plocate)
command -v fdfind >/dev/null || command -v fd >/dev/null || peers+=(fd-find)
if [ ${#peers[@]} -gt 0 ]; then
  say "installing ${peers[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${peers[@]}" >/dev/null
fi
fd_bin=$(command -v fdfind || command -v fd)
updatedb_bin=$(command -v updatedb.plocate || command -v updatedb)

build=$root/build-bench
say "building (Release) in $build"
ORVA_BUILD_DIR=$build ORVA_BUILD_TYPE=Release heavy "$root/scripts/build.sh" \
  -DORVA_BUILD_DESKTOP=OFF -DORVA_BUILD_TESTS=OFF >/dev/null
bin=$build/bin

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
code=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "an unknown commit")
if [ -n "$(git -C "$root" status --porcelain -- engine platform 2>/dev/null)" ]; then
  code+=" with uncommitted changes in engine/ or platform/"
fi

# ---- volumes ----
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orva-bench
generator=$(cat "$root/bench/NameGenerator.cpp" "$root/bench/NameGenerator.h" | sha1sum | cut -c1-12)
mkdir -p "$cache"
export XDG_CONFIG_HOME=$cache/config XDG_STATE_HOME=$cache/state
work=$(mktemp -d "${TMPDIR:-/tmp}/orva-bench.XXXXXX")
mnt=$cache/mnt # outside /tmp, which updatedb prunes
mounted=0
cleanup() {
  if [ "$mounted" = 1 ]; then fusermount -u "$mnt" 2>/dev/null || umount "$mnt" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

make_volume() { # SIZE -> the volume's folder in the cache
  local dir=$cache/$1-$generator
  if [ ! -s "$dir/volume.img" ]; then
    say "making the $1-entry volume in $dir"
    rm -rf "$cache/$1"-* # volumes of an earlier generator
    mkdir -p "$dir"
    heavy "$bin/orva-bench-names" "$1" "$dir/entries.list" "$dir/names.txt" >"$dir/stats"
    heavy "$bin/orva-mkimage" --from-list "$dir/entries.list" --label "Bench$1" "$dir/volume.img.part" >/dev/null
    mv "$dir/volume.img.part" "$dir/volume.img"
  fi
  echo "$dir"
}

# ---- timing ----
results=$work/results.tsv
: >"$results"
TIMEFORMAT='%3U %3S'

# measure SIZE SECTION LABEL RUNS COMMAND...: times COMMAND RUNS times, wall clock and
# processor time (its own and its children's); the note is its output when that is one
# line (a count), else the number of lines (entries listed).
measure() {
  local size=$1 section=$2 label=$3 n=$4; shift 4
  local wall="" cpu="" start end out=$work/out
  for ((i = 0; i < n; i++)); do
    start=$EPOCHREALTIME
    if ! { time "$@" >"$out" 2>"$work/err"; } 2>"$work/time"; then
      # grep and plocate exit 1 when they count 0: a measurement all the same.
      if [ "$(tail -n1 "$out")" != 0 ]; then
        say "failed: $* ($(head -c 200 "$work/err"))"; return 0
      fi
    fi
    end=$EPOCHREALTIME
    wall+="${wall:+ }$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')"
    cpu+="${cpu:+ }$(awk '{ printf "%.3f", $1 + $2 }' "$work/time")"
  done
  local note
  note=$(if [ "$(wc -l <"$out")" -le 1 ]; then tr -d '\n' <"$out"; else wc -l <"$out" | tr -d ' '; fi)
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$size" "$section" "$label" "$note" "$wall" "$cpu" >>"$results"
}
note_row() { printf '%s\t%s\t%s\t%s\t\t\n' "$1" "$2" "$3" "$4" >>"$results"; }

keywords=() # label<TAB>text, the keywords orva-bench queries
while IFS= read -r line; do keywords+=("$line"); done < <("$bin/orva-bench" keywords)

# A whole new plocate database of the mount: updatedb reuses an earlier one's folders.
fresh_updatedb() {
  rm -f "$work/plocate.db"
  heavy "$updatedb_bin" --database-root "$mnt" --output "$work/plocate.db" --prunepaths "" --prunefs "" \
    --prunenames "" --require-visibility no
}

bench_volume() { # SIZE LETTER
  local size=$1 letter=$2 dir image names
  dir=$(make_volume "$size")
  image=$dir/volume.img names=$dir/names.txt
  "$bin/orva-drive" detach "$letter:" >/dev/null 2>&1 || true
  "$bin/orva-drive" attach "$letter:" "$image" >/dev/null
  cat "$image" "$names" >/dev/null # warm page cache for everyone alike
  say "$size entries: Orva"
  (cd "$work" && rm -f Perf.log && heavy "$bin/orva-bench" enum "$letter" "$runs" &&
     heavy "$bin/orva-bench" engine "$letter" "$runs") | sed "s/^/$size\t/" >>"$results"
  if [ -x "$bin/orva-search" ]; then
    (cd "$work" && measure "$size" build "orva-search process (index + count \"backup\")" "$runs" \
       heavy "$bin/orva-search" --volume "$letter:" --count --quiet backup)
  fi

  say "$size entries: peers"
  measure "$size" build "fls -r -p" "$slow_runs" heavy fls -r -p "$image"
  mkdir -p "$mnt"
  if ntfs-3g -o ro,noatime "$image" "$mnt" 2>"$work/err"; then
    mounted=1
    measure "$size" build "find (fresh ntfs-3g mount)" 1 heavy find "$mnt"
    measure "$size" build "find (warm ntfs-3g mount)" "$slow_runs" heavy find "$mnt"
    measure "$size" build "fd -uu (warm ntfs-3g mount)" "$slow_runs" heavy "$fd_bin" -uu . "$mnt"
    measure "$size" build "updatedb (warm ntfs-3g mount)" "$slow_runs" fresh_updatedb
  else
    note_row "$size" build "find, fd, updatedb: no ntfs-3g mount here ($(head -c 120 "$work/err" | tr '\n\t' '  '))" ""
  fi
  local entry label text
  for entry in "${keywords[@]}"; do
    label=${entry%%$'\t'*} text=${entry#*$'\t'}
    measure "$size" query "$label: \"$text\"|grep -F -i -c" "$runs" grep -F -i -c -- "$text" "$names"
    if [ -s "$work/plocate.db" ]; then
      measure "$size" query "$label: \"$text\"|plocate -i -c" "$runs" plocate -d "$work/plocate.db" -i -c -- "$text"
    fi
  done
  if [ "$mounted" = 1 ]; then fusermount -u "$mnt" 2>/dev/null || umount "$mnt"; mounted=0; fi
  rm -f "$work/plocate.db"
  "$bin/orva-drive" detach "$letter:" >/dev/null
}

letter_of=(M N)
for i in "${!sizes[@]}"; do
  bench_volume "${sizes[$i]}" "${letter_of[$i]}"
done

# ---- report ----
machine() {
  echo "- Machine: $(nproc) processors, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1)," \
    "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, Linux $(uname -r)"
  echo "- Run: $(date -u '+%Y-%m-%d %H:%M UTC'), $runs runs each (the slowest peers $slow_runs)," \
    "load average before the run $load_before; code at $code"
  local size dir
  for size in "${sizes[@]}"; do
    dir=$cache/$size-$generator
    echo "- Volume of $size entries: $(cat "$dir/stats"), image $(du -h --apparent-size "$dir/volume.img" | cut -f1)"
  done
}
cp "$results" "$cache/last-results.tsv" # the raw figures, for awk -f bench/report.awk
table=$work/table.md
awk -f "$root/bench/report.awk" "$results" >"$table"
cat "$table"
if [ "$write" = 1 ]; then
  {
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/run.sh\`$( [ ${#sizes[@]} -eq 1 ] && echo ' --small'); rerun it to replace this file."
    echo "Figures of one run only compare with each other: the machine is shared and noisy."
    echo
    machine
    echo
    cat "$table"
  } >"$root/bench/RESULTS.md"
  say "written to bench/RESULTS.md"
fi
