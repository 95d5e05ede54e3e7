#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#  1. the whole suite (CTest; desktop tests on Qt's offscreen platform);
#  2. the suite again under AddressSanitizer and UndefinedBehaviorSanitizer, the threading
#     tests under ThreadSanitizer (scripts/test-sanitizers.sh);
#  3. every fuzz target over its committed seeds and regression inputs (scripts/fuzz.sh 0:
#     a replay, so the result does not depend on chance); ORVA_FUZZ_SECONDS=N fuzzes each
#     target N seconds instead.
# ORVA_QUICK=1 stops after the first. Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${ORVA_BUILD_DIR:-$root/build}
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --no-tests=error --output-on-failure -j "$(nproc)")
[ "${ORVA_QUICK:-0}" = 1 ] && exit 0

echo "test: again under the sanitizers" >&2
"$root/scripts/test-sanitizers.sh"
echo "test: fuzz targets over their seeds and regression inputs" >&2
"$root/scripts/fuzz.sh" "${ORVA_FUZZ_SECONDS:-0}"
