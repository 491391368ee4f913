#!/usr/bin/env bash
# Builds the project and runs every test; ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cd "$root/build"
ctest --output-on-failure -j"$(nproc)"
