#!/usr/bin/env bash
# Cross-builds the libraries the Windows program stands on, as static libraries for
# x86_64-w64-mingw32, from Debian's own source packages (with Debian's patches applied), into
#   DIR/prefix    headers, static libraries and pkg-config files
#   DIR/src       the unpacked sources and their builds
# A library already built (its stamp in DIR/prefix/stamps names the same source version) is
# left as it is, so a second run takes seconds. zlib comes ready made from libz-mingw-w64-dev.
#
#   bash tools/windows/deps.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$dir/prefix
src=$dir/src
apt_dir=$dir/apt
host=x86_64-w64-mingw32
jobs=$(nproc)
mkdir -p "$prefix/stamps" "$src" "$apt_dir/lists/partial"

# Debian's source archive, reached without touching the machine's own apt configuration.
uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
uri=${uri:-http://deb.debian.org/debian}
printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
  "$uri" > "$apt_dir/src.sources"
apt_options=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$apt_dir" -o "Dir::State::lists=$apt_dir/lists")
lists_fresh=

# The source version apt would fetch for a package now.
source_version() {
  if [ -z "$lists_fresh" ]; then
    apt-get "${apt_options[@]}" update -qq > "$apt_dir/update.log" 2>&1 ||
      { cat "$apt_dir/update.log" >&2; echo "windows: Debian's source archive cannot be read" >&2; exit 1; }
    lists_fresh=1
  fi
  apt-cache "${apt_options[@]}" showsrc "$1" | awk '/^Version:/ {print $2; exit}'
}

# Fetches and unpacks one source package into src/NAME; prints the directory.
unpack() {
  local package=$1 version=$2
  rm -rf "$src/$package" && mkdir -p "$src/$package"
  (cd "$src/$package" &&
   apt-get "${apt_options[@]}" source --download-only -qq "$package=$version" > fetch.log 2>&1 &&
   dpkg-source --no-check -x ./*.dsc tree > unpack.log 2>&1) ||
    { cat "$src/$package"/*.log >&2; echo "windows: the source of $package cannot be had" >&2; exit 1; }
  echo "$src/$package/tree"
}

toolchain=(-DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix"
           -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DKESU_WINDOWS_PREFIX="$prefix")
configure_options=(--host=$host --prefix="$prefix" --disable-shared --enable-static)
export CC=$host-gcc-posix CXX=$host-g++-posix

build_minizip() {
  (cd "$1" && autoreconf -fi && ./configure "${configure_options[@]}" && make -j"$jobs" && make install)
}
build_libsodium() {
  (cd "$1" && autoreconf -fi && ./configure "${configure_options[@]}" && make -j"$jobs" && make install)
}
build_libzstd() {
  cmake -S "$1/build/cmake" -B "$1/out" "${toolchain[@]}" -DZSTD_BUILD_SHARED=OFF \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=ON &&
  cmake --build "$1/out" -j"$jobs" && cmake --install "$1/out"
}
build_libxml2() {
  local off=()
  for feature in ICONV LZMA ZLIB PYTHON HTTP FTP TESTS PROGRAMS MODULES ICU; do off+=("-DLIBXML2_WITH_$feature=OFF"); done
  cmake -S "$1" -B "$1/out" "${toolchain[@]}" "${off[@]}" && cmake --build "$1/out" -j"$jobs" && cmake --install "$1/out"
}
# Schannel for TLS, so certificates are checked against Windows' own store; no CA path of the
# build machine baked in.
build_curl() {
  cmake -S "$1" -B "$1/out" "${toolchain[@]}" -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON \
    -DCURL_DISABLE_LDAP=ON -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_ZLIB=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DENABLE_UNICODE=ON &&
  cmake --build "$1/out" -j"$jobs" && cmake --install "$1/out"
}
build_googletest() {
  cmake -S "$1" -B "$1/out" "${toolchain[@]}" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF &&
  cmake --build "$1/out" -j"$jobs" && cmake --install "$1/out"
}
# Header-only: the tests' HTTP servers.
build_cpp-httplib() {
  install -D -m 644 "$1/httplib.h" "$prefix/include/httplib.h"
}

for package in minizip libzstd libsodium libxml2 curl googletest cpp-httplib; do
  stamp=$prefix/stamps/$package
  if [ -f "$stamp" ] && [ -z "${KESU_REFRESH_DEPS:-}" ]; then continue; fi
  version=$(source_version "$package")
  [ -n "$version" ] || { echo "windows: Debian has no source package $package" >&2; exit 1; }
  [ "$(cat "$stamp" 2>/dev/null)" = "$version" ] && continue
  echo "windows: building $package $version"
  tree=$(unpack "$package" "$version")
  log=$src/$package/build.log
  if ! "build_$package" "$tree" > "$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "windows: $package did not build; the whole log is $log" >&2
    exit 1
  fi
  echo "$version" > "$stamp"
done
