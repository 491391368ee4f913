#!/usr/bin/env bash
# Builds the Windows program on this machine and runs its tests under Wine: installs the
# cross-compiler, Wine and the tools (Debian 12, as root; nothing is done when all is there),
# cross-builds the libraries from Debian's source packages into build-windows/deps (once), makes
# a Wine prefix in build-windows/wine, cross-builds into build-windows/, and runs the tests
# through Wine on an X server of its own. Ends with CTest's summary.
#
#   bash tools/windows.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows

packages=(
  cmake make pkg-config g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  libz-mingw-w64-dev wine wine64 xvfb xauth autoconf automake libtool dpkg-dev
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "windows: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

bash "$root/tools/windows/deps.sh" "$build/deps"

# Wine: 64-bit, quiet, and without the Mono and Gecko installers a new prefix would ask for.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows: making the Wine prefix $WINEPREFIX"
  wineboot --init > "$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log" >&2; exit 1; }
fi

log=$build/build.log
if ! { cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tools/windows/toolchain.cmake" \
         -DKESU_WINDOWS_PREFIX="$build/deps/prefix" -DCMAKE_BUILD_TYPE=Release ${CI:+-DKESU_WERROR=ON} &&
       cmake --build "$build" -j"$(nproc)"; } > "$log" 2>&1; then
  grep -E -B2 -A12 'error|Error' "$log" | head -n 200 >&2
  echo "windows: the build failed; the whole log is $log" >&2
  exit 1
fi
grep -E 'warning:' "$log" >&2 || true

# Wine's windows and the tests' need an X server: one of our own, gone when we are.
# Xvfb takes a free display itself and writes its number.
rm -f "$build/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$build/display" 2> "$build/xvfb.log" &
xvfb=$!
trap 'kill $xvfb 2> /dev/null; wineserver -k 2> /dev/null || true' EXIT
until [ -s "$build/display" ]; do
  kill -0 $xvfb 2> /dev/null || { cat "$build/xvfb.log" >&2; echo "windows: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY=:$(cat "$build/display")
# One Wine server for every test, not one started and ended per program; its services start now,
# their output away from the tests' (a service that kept CTest's pipe open would hold its reading).
wineserver -p
wineboot > "$build/wineboot.log" 2>&1 < /dev/null
cd "$build"
ctest --output-on-failure -j"$(nproc)"
