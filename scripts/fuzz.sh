#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ for a bounded time each, starting from the seed
# corpora in fuzz/corpus/<target>. The targets are built in build-fuzz (clang, ASan and
# UBSan, libFuzzer's coverage hooks; see scripts/test-sanitizers.sh). New inputs go to a working corpus in the
# build folder, never into the repository; a crash, leak or hang fails the script and
# leaves its input in <build>/fuzz-artifacts/. Inputs in fuzz/regressions/<target> (each
# once found a defect) are replayed before each target runs.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS (or $ORVA_FUZZ_SECONDS) is the time per target (0: replay the seeds only), 12 by default (about a minute
# for all five, as in CI); give 3600 for an hour each. TARGET defaults to every target.
# Reproduce a crash with: build-fuzz/bin/<target> <artifact>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${ORVA_FUZZ_SECONDS:-12}
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
build=${ORVA_FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_profile fuzz_paths fuzz_settings fuzz_usn_walk fuzz_mft_record)

ORVA_FUZZ_BUILD_DIR=$build "$root/scripts/test-sanitizers.sh" fuzz-build "${targets[@]}"

# The profile writes are synced to disk; a memory file system keeps the runs fast.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
status=0
for target in "${targets[@]}"; do
  # Inputs that once failed are replayed first: each holds a defect that stays fixed.
  regressions=("$root/fuzz/regressions/$target"/*)
  if [ -e "${regressions[0]}" ] && ! "$build/bin/$target" "${regressions[@]}" >"$build/fuzz-$target.log" 2>&1; then
    echo "fuzz: $target fails on a regression input; the last lines of $build/fuzz-$target.log:" >&2
    tail -n 40 "$build/fuzz-$target.log" >&2
    status=1
    continue
  fi
  if [ "$seconds" = 0 ]; then
    # A replay of the committed seeds: the same result on every run.
    echo "fuzz: $target over its seeds" >&2
    if ! ASAN_OPTIONS="detect_leaks=1" "$build/bin/$target" -runs=0 "$root/fuzz/corpus/$target" \
        >"$build/fuzz-$target.log" 2>&1; then
      echo "fuzz: $target fails on a seed; the last lines of $build/fuzz-$target.log:" >&2
      tail -n 40 "$build/fuzz-$target.log" >&2
      status=1
    fi
    continue
  fi
  corpus=$build/fuzz-corpus/$target
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s" >&2
  if ! ASAN_OPTIONS="detect_leaks=1" "$build/bin/$target" "$corpus" "$root/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$target-" >"$build/fuzz-$target.log" 2>&1; then
    echo "fuzz: $target failed; the last lines of $build/fuzz-$target.log:" >&2
    tail -n 40 "$build/fuzz-$target.log" >&2
    status=1
  fi
done
exit $status
