#!/usr/bin/env bash
# Runs the tests under the sanitizers: every test built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the tests of the worker and the window (the two threads) built
# with ThreadSanitizer. Each build has a directory of its own (build-asan/, build-tsan/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh" > /dev/null

build() {
  local dir=$1 flags=$2
  echo "sanitize: building $dir ($flags)"
  if ! { cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
           -DCMAKE_EXE_LINKER_FLAGS="$flags" && cmake --build "$root/$dir" -j"$(nproc)"; } > "$root/$dir.log" 2>&1; then
    tail -n 60 "$root/$dir.log"
    exit 1
  fi
}

build build-asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j"$(nproc)" --output-on-failure)

build build-tsan "-fsanitize=thread"
(cd "$root/build-tsan" &&
  TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1" \
  ctest -j"$(nproc)" --output-on-failure \
    -R 'Window|UpdateEvents|UpdateEnd|UpdateRun|RunEnds|RunPhases|ServedFile|DownloadRun|ParallelDownload|FailedWrite|FailedDownloadWrite|FileCalls|ACheckedPackage|RetryResume|ResumeAcrossRuns|VerifiedDownload|DownloadMgr|EngineEndToEnd|X11|AutoUpdateDlg|SkinButton|Internet')
