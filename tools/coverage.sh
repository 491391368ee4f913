#!/usr/bin/env bash
# Measures how much of the product the tests run: builds it with gcc's coverage instrumentation
# (unoptimised) into build-coverage/, runs every test there, then prints the lines of the product's
# own sources that ran, per folder and in all, as gcovr counts them. Tests, benchmarks, fuzz
# targets, the other tools, system headers and files generated in the build directory are left out.
#
#   bash tools/coverage.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh" > /dev/null
if ! dpkg-query -W -f='${Status}' gcovr 2>/dev/null | grep -q 'ok installed'; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr > /dev/null
fi

folders=(app archive check delta digest download install manifest platform publish release res sentences source trust ui window)
dir=build-coverage
# Counters updated atomically: the download lanes and the check run on several threads, and
# racing counters come out negative, which gcovr cannot read.
flags="--coverage -O0 -fprofile-update=atomic"
echo "coverage: building $dir ($flags)"
if ! { cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" \
         -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="--coverage" &&
       cmake --build "$root/$dir" -j"$(nproc)"; } > "$root/$dir.log" 2>&1; then
  tail -n 60 "$root/$dir.log"
  exit 1
fi

# Counts of an earlier run would add to this one's.
find "$root/$dir" -name '*.gcda' -delete
(cd "$root/$dir" && ctest -j"$(nproc)" --output-on-failure)

# gcovr reads the counts beside the objects (and the notes of objects that never ran, as lines
# not covered), leaving out CMake's compiler checks; the filters keep the product's folders,
# relative to the root.
summary="$root/$dir/coverage.json"
(cd "$root" && gcovr --root . --object-directory "$dir" -j"$(nproc)" \
   --exclude-directories "$dir/CMakeFiles/[0-9]" --filter "($(IFS='|'; echo "${folders[*]}"))/" \
   --json-summary "$summary")
python3 - "$summary" "${folders[@]}" << 'EOF'
import json, sys
summary, folders = sys.argv[1], sys.argv[2:]
totals = {folder: [0, 0] for folder in folders}
for entry in json.load(open(summary))["files"]:
    name = entry["filename"]
    folder = next(f for f in folders if name.startswith(f + "/"))
    totals[folder][0] += entry["line_covered"]
    totals[folder][1] += entry["line_total"]
def show(label, covered, total):
    percent = 100.0 * covered / total if total else 0.0
    print(f"{label:<14} {covered:>6} / {total:<6} {percent:5.1f}%")
print("line coverage (covered / total lines):")
for folder in folders:
    show(folder, *totals[folder])
show("total", sum(c for c, _ in totals.values()), sum(t for _, t in totals.values()))
EOF
