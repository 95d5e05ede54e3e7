#!/usr/bin/env bash
# Installs what is missing, builds, and runs what Orva has so far.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "Orva is built in ${ORVA_BUILD_DIR:-$root/build}."
