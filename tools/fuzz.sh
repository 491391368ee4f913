#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) into build-fuzz/ and runs
# each from its seed corpus for the given number of seconds (default 60).
#
#   bash tools/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/tools/setup.sh" > /dev/null
if ! command -v clang++ > /dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'ok installed'; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev > /dev/null
fi
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKESU_BUILD_FUZZERS=ON -DKESU_BUILD_TESTS=OFF > /dev/null
cmake --build "$root/build-fuzz" -j"$(nproc)" > /dev/null
failed=0
for target in manifest zip commandline settings signature; do
  work="$root/build-fuzz/corpus-$target"
  mkdir -p "$work"
  echo "fuzz: $target for $seconds s"
  "$root/build-fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "$work" "$root/fuzz/corpus/$target" > "$work.log" 2>&1 || { tail -n 40 "$work.log"; failed=1; }
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec)' "$work.log" | sed "s/^/  /"
done
exit "$failed"
