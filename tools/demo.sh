#!/usr/bin/env bash
# The demo update: builds the program, publishes a small generated update on a loopback server
# and runs KesuUpdate.exe from a demo installation against it three times: a manifest update,
# the same again (nothing left to do), and a package update (Game7.zip, unpacked in place).
# The window shows on $DISPLAY; without one the demo starts an X server of its own (Xvfb). The
# demo saves a screenshot of the window during the first update and says where, or why there is none.
#
#   build/demo/server/update/   what the server holds (update.xml, its files, Game7.zip)
#   build/demo/install/         the installation: KesuUpdate.exe, its settings file pirvex.dll
#   build/demo/window.png       the screenshot
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

"$root/build/kesu-demo-server" "$demo/server" 0 400 > "$demo/server.port" &
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
port=$(head -n1 "$demo/server.port")
echo "demo: serving $updates on http://127.0.0.1:$port/update/"

cp "$root/build/KesuUpdate.exe" "$demo/install/"
# A stand-in lobby: after a default update the updater starts it again.
printf '#!/bin/sh\necho "demo: the lobby was started again with: $*" >&2\n' > "$demo/install/Maravel.exe"
chmod +x "$demo/install/Maravel.exe"
printf '[Download]\r\nsite1=127.0.0.1:%s\r\n[Setup]\r\nTempDir=tmp\r\n' "$port" > "$demo/install/pirvex.dll"

cd "$demo/install"
run() {
  echo
  echo "demo: ./KesuUpdate.exe $*"
  status=0
  ./KesuUpdate.exe "$@" || status=$?
  echo "demo: exit code $status"
}
# The screenshot is the first picture the window shows after its splash: the download panel. The
# window is gone a second or two later, so the tool watches it rather than waiting a set time.
shot="$demo/window.png"
"$root/build/kesu-screenshot" --after "$root/res/bitmap133.png" "$shot" KesuUpdate 30 2> "$demo/screenshot.log" &
shooter=$!
run
if wait $shooter; then
  echo "demo: screenshot of the window during the first update: $shot"
else
  echo "demo: no screenshot of the window: $(cat "$demo/screenshot.log")"
fi
sleep 0.2
run
sleep 0.2
run Game7.dat 12 34 -install
echo
echo "demo: the installation now holds:"
find . -path ./tmp -prune -o -type f -print | sort | sed 's/^/  /'
