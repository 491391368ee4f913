#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) into build-fuzz/ and runs
# each from its seed corpus for the given number of seconds (default 60).
#
#   bash tools/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/tools/setup.sh" > /dev/null
command -v clang++ > /dev/null || { apt-get install -y -qq clang libclang-rt-dev > /dev/null; }
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKESU_BUILD_FUZZERS=ON -DKESU_BUILD_TESTS=OFF > /dev/null
cmake --build "$root/build-fuzz" -j"$(nproc)" > /dev/null
for target in manifest zip; do
  work="$root/build-fuzz/corpus-$target"
  mkdir -p "$work"
  echo "fuzz: $target for $seconds s"
  "$root/build-fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "$work" "$root/fuzz/corpus/$target" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|==|SUMMARY)|Done' || true
done
