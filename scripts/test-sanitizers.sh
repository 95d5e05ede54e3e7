#!/usr/bin/env bash
# Builds and runs the tests a second time under the sanitizers, with clang:
#
#  1. build-asan: the whole tree with AddressSanitizer, LeakSanitizer and
#     UndefinedBehaviorSanitizer (every report is fatal); every CTest test runs. The
#     load test runs 2,000 of its 10,000 queries there (ORVA_LOAD_QUERIES), which is
#     enough for LeakSanitizer and keeps the run within CI's time.
#  2. build-tsan: ThreadSanitizer, the test programs without Qt; the tests whose names
#     speak of threads run (ORVA_TSAN_TESTS, a CTest -R pattern, overrides). The desktop
#     program's thread tests are left out: Debian's Qt is not built with ThreadSanitizer,
#     so the synchronisation inside QThreadPool and queued calls is invisible to it and
#     every hand-over between threads is reported as a race.
#
# Any sanitizer report fails the script, also one from a child process whose exit
# status a test ignores: every report is also written to a log folder, which must stay
# empty. Works as root and without a display. Heavy: run it niced on a shared machine.
#
#   scripts/test-sanitizers.sh [asan|tsan]...     (default: both)
#   scripts/test-sanitizers.sh fuzz-build TARGET... (used by scripts/fuzz.sh)
#
# Build folders: $ORVA_ASAN_BUILD_DIR (build-asan), $ORVA_TSAN_BUILD_DIR (build-tsan),
# $ORVA_FUZZ_BUILD_DIR (build-fuzz: the libraries with libFuzzer's coverage hooks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
asan_build=${ORVA_ASAN_BUILD_DIR:-$root/build-asan}
tsan_build=${ORVA_TSAN_BUILD_DIR:-$root/build-tsan}
fuzz_build=${ORVA_FUZZ_BUILD_DIR:-$root/build-fuzz}
tsan_tests=${ORVA_TSAN_TESTS:-'[Tt]hread|[Cc]oncurren|[Hh]andshake|[Ss]tress|[Pp]arallel'}
tsan_excluded='^search_page\.|^desktop'
tsan_targets=(platform_tests engine_tests reliability_tests)
asan_flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

export QT_QPA_PLATFORM=offscreen
export CC=clang CXX=clang++

# Configures `$1` with the sanitizer flags `$2`; the rest are extra CMake arguments.
configure() {
  local build=$1 flags=$2
  shift 2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
    -DORVA_BUILD_BENCH=OFF "$@" >/dev/null
}

# Fails when the report folder `$1` holds any report.
check_reports() {
  local reports=$1
  if compgen -G "$reports/*" >/dev/null; then
    echo "test-sanitizers: sanitizer reports in $reports:" >&2
    cat "$reports"/* >&2
    return 1
  fi
}

# Runs CTest in `$1` with the reports going to a fresh folder; the rest are CTest arguments.
run_tests() {
  local build=$1
  shift
  local reports=$build/sanitizer-reports
  rm -rf "$reports" && mkdir -p "$reports"
  local status=0
  (cd "$build" && ctest --no-tests=error --output-on-failure -j "$jobs" "$@") || status=$?
  check_reports "$reports" || status=1
  return $status
}

# A known leak of a system library (not our code): libntfs-3g
# leaks the $MFT's run list when a mount fails (ntfs_volume_startup, seen with a damaged
# image); it is built without frame pointers, so its reports end at ntfs_malloc and
# only the whole library can be named.
leak_suppressions() {
  local file=$1
  cat >"$file" <<'EOF'
leak:libntfs-3g.so
EOF
}

run_asan() {
  configure "$asan_build" "$asan_flags"
  cmake --build "$asan_build" -j "$jobs"
  leak_suppressions "$asan_build/lsan.supp"
  local reports=$asan_build/sanitizer-reports
  ORVA_LOAD_QUERIES=${ORVA_LOAD_QUERIES:-2000} \
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:log_path=$reports/asan" \
    LSAN_OPTIONS="suppressions=$asan_build/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan" \
    run_tests "$asan_build"
}

run_tsan() {
  configure "$tsan_build" "-fsanitize=thread -fno-omit-frame-pointer"
  cmake --build "$tsan_build" -j "$jobs" --target "${tsan_targets[@]}"
  local reports=$tsan_build/sanitizer-reports
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan" \
    run_tests "$tsan_build" -R "$tsan_tests" -E "$tsan_excluded"
}

# For scripts/fuzz.sh: configure the fuzz tree and build only the fuzz targets named.
# Its own tree: the coverage hooks in every comparison would slow the tests down.
if [ "${1:-}" = fuzz-build ]; then
  shift
  configure "$fuzz_build" "$asan_flags -fsanitize=fuzzer-no-link" -DORVA_BUILD_FUZZ=ON
  cmake --build "$fuzz_build" -j "$jobs" --target "$@"
  exit 0
fi

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan tsan)
status=0
for step in "${steps[@]}"; do
  case $step in
    asan) run_asan || status=1 ;;
    tsan) run_tsan || status=1 ;;
    *) echo "usage: $0 [asan|tsan]..." >&2; exit 2 ;;
  esac
done
exit $status
