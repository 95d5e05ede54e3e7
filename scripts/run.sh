#!/usr/bin/env bash
# Installs what is missing, builds, and runs Orva's main job:
# - when no NTFS volume of this machine can be read, makes a sample NTFS image from a
#   folder tree of the machine (once, cached) and attaches it as a drive;
# - on a display, starts OrvaDesktop in a working folder of its own (the first-run
#   question there leads to indexing the machine's NTFS volumes);
# - with no display, runs a few searches with orva-search instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
bin=${ORVA_BUILD_DIR:-$root/build}/bin

cache=${XDG_CACHE_HOME:-$HOME/.cache}/orva
work=${XDG_DATA_HOME:-$HOME/.local/share}/orva/desktop
mkdir -p "$cache" "$work"

readable_ntfs() {
  "$bin/orva-drive" list | awk '$3 == "NTFS" && $1 != "-" && / yes / { print $1 }'
}

if [ -z "$(readable_ntfs)" ]; then
  sample=$cache/sample.img
  source_tree=${ORVA_SAMPLE_TREE:-/usr/share}
  if [ ! -s "$sample" ]; then
    echo "run: no readable NTFS volume here; making a sample image of $source_tree (once)..." >&2
    "$bin/orva-mkimage" --from-dir "$source_tree" --label "Orva sample" "$sample.part"
    mv "$sample.part" "$sample"
  fi
  if ! "$bin/orva-drive" list | grep -qF "$sample"; then
    for letter in {E..Z}; do
      if "$bin/orva-drive" attach "$letter:" "$sample" 2>/dev/null; then
        echo "run: sample image attached as $letter:" >&2
        break
      fi
    done
  fi
fi
volumes=$(readable_ntfs)
echo "run: NTFS volumes: ${volumes:-none}" >&2

cd "$work"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin/OrvaDesktop"
fi

echo "run: no display; searching from the command line instead (working folder $work)." >&2
args=()
for v in $volumes; do args+=(--volume "$v"); done
for keyword in readme .png copyright zh_CN; do
  echo
  echo "== orva-search '$keyword': $("$bin/orva-search" --quiet --count "${args[@]}" "$keyword" || true) entries; the first 5:"
  "$bin/orva-search" --quiet --long --limit 5 "${args[@]}" "$keyword" || true
done
