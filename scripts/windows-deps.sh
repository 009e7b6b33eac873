#!/usr/bin/env bash
# Builds the libraries that the Windows host and tool need and that Debian has
# no MinGW package of (libtiff: zlib only; libpng; zstd, the library alone), from Debian's own source
# packages with Debian's patches, into build/windows-deps/<target>/ for both
# targets. Built once; later runs find them there. Run as root (apt).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deps=$root/build/windows-deps
src=$deps/src
mkdir -p "$src"

# A mirror caught mid-sync fails an index or two; what is missing shows later.
update() { apt-get update -qq || echo "windows-deps: apt-get update reported errors; going on" >&2; }

# apt-get source needs deb-src entries; made from the machine's own deb entries.
ensure_deb_src() {
  local known
  known=$(apt-cache showsrc tiff 2>/dev/null || true)
  if grep -q '^Package: tiff$' <<<"$known"; then
    return
  fi
  echo "windows-deps: adding deb-src entries for Debian's source packages" >&2
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/morvexer-deb-src.sources
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/morvexer-deb-src.list
  else
    echo "windows-deps: FAIL: no apt sources to derive deb-src entries from" >&2
    exit 1
  fi
  update >&2
}

# The unpacked source of a package: one unpacked earlier, or the newest version
# whose files all download (a mirror may lack the newest security upload).
# Prints the folder alone on stdout.
fetch() {
  local pkg=$1 dir ver
  dir=$(ls -d "$src/$pkg"-*/ 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -n "$dir" ]; then
    echo "${dir%/}"
    return
  fi
  ensure_deb_src
  for ver in $(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2}' | sort -u -V -r); do
    if (cd "$src" && apt-get source --download-only -qq "$pkg=$ver") >"$src/$pkg.log" 2>&1; then
      dir=$src/$pkg-${ver#*:}
      rm -rf "$dir.part"
      { dpkg-source -x "$src/${pkg}_${ver#*:}.dsc" "$dir.part" && mv "$dir.part" "$dir"; } >>"$src/$pkg.log" 2>&1 ||
        { echo "windows-deps: FAIL: cannot unpack $pkg $ver (see $src/$pkg.log)" >&2; exit 1; }
      echo "$dir"
      return
    fi
  done
  echo "windows-deps: FAIL: cannot fetch the source package $pkg (see $src/$pkg.log)" >&2
  exit 1
}

# build TRIPLE NAME SOURCE CMAKE-OPTIONS...: configured with the project's own
# toolchain file, so the libraries match the compiler and runtime of the build.
build() {
  local triple=$1 name=$2 source=$3
  shift 3
  # Named by the unpacked package's folder (zstd's project sits in build/cmake under it).
  local prefix=$deps/$triple stamp=$deps/$triple/.built-$(basename "${source%/build/cmake}")
  [ -f "$stamp" ] && return
  local arch=${triple%%-*}
  local work=$deps/build/$triple/$name
  echo "windows-deps: building $(basename "${source%/build/cmake}") for $triple"
  rm -rf "$work"
  mkdir -p "$work"
  cmake -S "$source" -B "$work" -G Ninja -Wno-dev -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >"$work.log" 2>&1 ||
    { tail -n 30 "$work.log"; exit 1; }
  { cmake --build "$work" && cmake --install "$work"; } >>"$work.log" 2>&1 || { tail -n 30 "$work.log"; exit 1; }
  touch "$stamp"
}

tiff=$(fetch tiff)
png=$(fetch libpng1.6)
zstd=$(fetch libzstd)
for triple in x86_64-w64-mingw32 i686-w64-mingw32; do
  build "$triple" tiff "$tiff" -Dzlib=ON -Dlibdeflate=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF \
    -Dzstd=OFF -Dwebp=OFF -Dpixarlog=OFF -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Dtiff-opengl=OFF
  build "$triple" png "$png" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
  # zstd's CMake project is in a folder of its own; single-threaded: the host's workers run the chunks.
  build "$triple" zstd "$zstd/build/cmake" -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
done
echo "windows-deps: $(basename "$tiff"), $(basename "$png") and $(basename "$zstd") in $deps"
