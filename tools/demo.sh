#!/usr/bin/env bash
# The demo update: builds the program, publishes a small generated update on a loopback server
# and runs KesuUpdate.exe from a demo installation against it three times: a manifest update,
# the same again (nothing left to do), and a package update (Game7.zip, unpacked in place).
# The window shows on $DISPLAY; without one the demo starts an X server of its own (Xvfb). The
# demo saves a screenshot of the window during the first update and says where, or why there is none.
# Each run has a time limit (a message box under the demo's own X server has nobody to answer it);
# the demo says which run did not do what it should, and why, and then ends with status 1.
#
#   build/demo/server/update/   what the server holds (update.xml, its files, Game7.zip)
#   build/demo/install/         the installation: KesuUpdate.exe, its settings file pirvex.dll
#   build/demo/window.png       the screenshot
#   build/demo/install/tmp/KesuUpdate.log   the updater's log of the three runs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/server/update/data/map" "$demo/install/data/map"
updates="$demo/server/update"

# The new version: a text file, a binary in a sub-directory, and one file already up to date.
echo "KesuUpdate demo, published $(date -u +%Y-%m-%dT%H:%M:%SZ)" > "$updates/readme.txt"
head -c 300000 /dev/urandom > "$updates/data/map/town.dat"
echo "unchanged" > "$updates/lobby.ini"
cp "$updates/lobby.ini" "$demo/install/lobby.ini"
echo "old map" > "$demo/install/data/map/town.dat"

{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<manifest><filelist>'
  for name in readme.txt 'data\map\town.dat' lobby.ini; do
    file="$updates/${name//\\//}"
    printf '  <file filename="%s" filesize="%s" fileversion="1.0" md5="%s"/>\n' \
      "$name" "$(stat -c %s "$file")" "$(md5sum "$file" | cut -d' ' -f1)"
  done
  echo '</filelist></manifest>'
} > "$updates/update.xml"
mkdir -p "$demo/package/maps"
echo "a map that only the package brings" > "$demo/package/maps/harbour.map"
(cd "$demo/package" && zip -q -r "$updates/Game7.zip" .)

# The programs, wherever the build put them.
# shellcheck source=/dev/null
. "$root/build/demo-programs.sh"

"$kesu_demo_server" "$demo/server" 0 400 > "$demo/server.port" 2> "$demo/server.log" &
server=$!
xserver=
trap 'kill $server $xserver 2>/dev/null || true' EXIT
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
  xserver=$!
  read -r number <&3
  export DISPLAY=":$number"
  echo "demo: no display: the window shows on an X server of its own, $DISPLAY"
fi
for _ in $(seq 50); do [ -s "$demo/server.port" ] && break; sleep 0.1; done
port=$(head -n1 "$demo/server.port" 2>/dev/null || true)
if [ -z "$port" ]; then
  echo "demo: the demo server did not start: $(cat "$demo/server.log")" >&2
  exit 1
fi
echo "demo: serving $updates on http://127.0.0.1:$port/update/"

cp "$kesu_update" "$demo/install/KesuUpdate.exe"
# A stand-in lobby: after a default update the updater starts it again.
printf '#!/bin/sh\necho "demo: the lobby was started again with: $*" >&2\n' > "$demo/install/Maravel.exe"
chmod +x "$demo/install/Maravel.exe"
printf '[Download]\r\nsite1=127.0.0.1:%s\r\n[Setup]\r\nTempDir=tmp\r\n' "$port" > "$demo/install/pirvex.dll"

cd "$demo/install"
log="$demo/install/tmp/KesuUpdate.log"
# The lines the last run wrote to the log, from its start line on.
last_run_log() {
  local first
  first=$({ grep -an ' start: ' "$log" 2>/dev/null || true; } | tail -n1 | cut -d: -f1)
  if [ -n "$first" ]; then tail -n +"$first" "$log" | sed 's/^/  /'; else echo "  (no log)"; fi
}
last_end() { { grep -a ' end: ' "$log" 2>/dev/null || true; } | tail -n1 | sed 's/.* end: //'; }
log_ends_with() { [ "$(last_end)" = "$1" ]; }
same_file() { cmp -s "$1" "$2"; }
# Records what a run did not do that it should have, and shows that run's log once.
expect() {
  local what=$1
  shift
  "$@" && return
  failures+=("$what")
  if [ "$shown_log" != "$runs" ]; then
    shown_log=$runs
    echo "demo: $what; the run's log:"
    last_run_log
  fi
}
# A message box under the demo's own X server has nobody to answer it: the demo presses Enter on
# each box the run shows (a window of the program's class other than the update window).
answer_boxes() {
  while kill -0 "$1" 2>/dev/null; do
    for window in $(xdotool search --class KesuUpdate 2>/dev/null); do
      if [ "$(xdotool getwindowname "$window" 2>/dev/null)" != KesuUpdate ]; then
        echo "demo: the run shows a message box; the demo answers it"
        xdotool key --window "$window" Return 2>/dev/null || true
      fi
    done
    sleep 0.2
  done
}
# Runs the updater, answering its boxes; one that has not ended within a minute is stopped.
run() {
  runs=$((runs + 1))
  echo
  echo "demo: ./KesuUpdate.exe $*"
  timeout 60 ./KesuUpdate.exe "$@" &
  local updater=$! status=0
  answer_boxes "$updater" &
  local answerer=$!
  wait "$updater" || status=$?
  wait "$answerer" 2>/dev/null || true
  if [ "$status" -eq 124 ]; then
    echo "demo: the run did not end within 60 s and was stopped"
    failures+=("run $runs did not end by itself")
  else
    echo "demo: exit code $status; the log says: $(last_end)"
  fi
}
failures=()
runs=0
shown_log=

# The screenshot is the first picture the window shows after its splash: the download panel. The
# window is gone a second or two later, so the tool watches it rather than waiting a set time.
shot="$demo/window.png"
"$kesu_screenshot" --after "$root/res/bitmap133.png" "$shot" KesuUpdate 30 2> "$demo/screenshot.log" &
shooter=$!
run
expect "the first run did not install readme.txt" same_file readme.txt "$updates/readme.txt"
expect "the first run did not install data/map/town.dat" same_file data/map/town.dat "$updates/data/map/town.dat"
expect "the first run did not end installed" log_ends_with "the update is installed"
if wait $shooter && [ -s "$shot" ]; then
  echo "demo: screenshot of the window during the first update: $shot"
else
  echo "demo: no screenshot of the window: $(cat "$demo/screenshot.log")"
  failures+=("no screenshot of the first run's window")
fi
run
expect "the second run did not find the installation up to date" log_ends_with "up to date"
run Game7.dat 12 34 -install
expect "the package run did not unpack maps/harbour.map" same_file maps/harbour.map "$demo/package/maps/harbour.map"
expect "the package run did not end installed" log_ends_with "the update is installed"
echo
echo "demo: the installation now holds:"
find . -path ./tmp -prune -o -type f -print | sort | sed 's/^/  /'
if ((${#failures[@]})); then
  echo
  printf 'demo: FAILED: %s\n' "${failures[@]}" >&2
  echo "demo: the updater's log is $log" >&2
  exit 1
fi
echo
echo "demo: all three runs did what they should"
