#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12, as root; nothing is done when all is
# there), then configures and builds the project into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake g++ make pkg-config coreutils openssl libxml2-utils
  libcurl4-openssl-dev libssl-dev libxml2-dev libminizip-dev zlib1g-dev
  libcairo2-dev libpango1.0-dev libx11-dev fonts-arphic-uming fonts-dejavu-core
  libcpp-httplib-dev libgtest-dev nginx-light zip unzip libarchive-tools p7zip-full xvfb xdotool openbox
  libsodium-dev minisign python3 libzstd-dev zstd xdelta3 tinyproxy
  openjdk-17-jdk-headless  # jar, whose packages the tests install
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (install them as root): ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The tests start nginx themselves; the package must not start a system service.
  guard=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d && guard=1
  fi
  apt-get update -qq
  status=0
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null || status=$?
  [ -z "$guard" ] || rm -f /usr/sbin/policy-rc.d
  [ "$status" -eq 0 ] || exit "$status"
fi

# Warnings are errors in CI, where the compiler is the one named above.
mkdir -p "$root/build"
log="$root/build/build.log"
if ! { cmake -S "$root" -B "$root/build" ${CI:+-DKESU_WERROR=ON} && cmake --build "$root/build" -j"$(nproc)"; } > "$log" 2>&1; then
  grep -E -B2 -A12 'error|Error' "$log" | head -n 200 >&2
  echo "setup: the build failed; the whole log is $log" >&2
  exit 1
fi
grep -E 'warning:' "$log" >&2 || true
echo "setup: built $root/build/KesuUpdate.exe"
