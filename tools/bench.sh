#!/usr/bin/env bash
# Builds the project and runs every benchmark; each prints its ratios against the reference
# tools measured in the same run. Scratch data (several GB) goes to build/bench-data/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
# delta_bench measures the heap of applying a patch with heaptrack.
if ! command -v heaptrack > /dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends heaptrack > /dev/null
fi
data="$root/build/bench-data"
mkdir -p "$data"
chmod 755 "$data"
for bench in md5_bench manifest_bench download_bench unzip_bench window_bench update_bench program_bench latency_bench publish_bench delta_bench; do
  echo "== $bench"
  "$root/build/bench/$bench" "$data/${bench%_bench}"
done
