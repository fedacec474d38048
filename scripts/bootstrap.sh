#!/usr/bin/env bash
# Installs everything a fresh Debian machine lacks to build and test zelto-cua:
# the apt packages, MinGW builds of libpng, libjpeg-turbo and ICU cross-compiled from
# Debian's source packages into a versioned cache outside the repository, and the
# single header of cpp-httplib from its source package beside them.
# Idempotent: a second run with the cache present only checks and returns.
set -euo pipefail

CACHE_ROOT="${ZELTO_CUA_CACHE:-$HOME/.cache/zelto-cua}"
JOBS="$(nproc)"

APT_PACKAGES=(
  cmake ninja-build pkg-config dpkg-dev
  g++ nlohmann-json3-dev libpng-dev libicu-dev libjpeg62-turbo-dev nasm
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool openbox x11-utils x11-xserver-utils
  xserver-xephyr
  clang-format clang libclang-rt-dev
)
# Node's test runner drives the MCP server with the official client SDK; keep a
# node and npm the machine already has.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  APT_PACKAGES+=(nodejs npm)
fi

log() { printf '[bootstrap] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

missing_packages() {
  local pkg
  for pkg in "${APT_PACKAGES[@]}"; do
    dpkg-query -W -f '${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || echo "$pkg"
  done
}

install_apt_packages() {
  local missing
  missing="$(missing_packages)"
  [ -z "$missing" ] && return 0
  log "installing: $(echo $missing | tr '\n' ' ')"
  as_root apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# apt-get source needs deb-src entries; mirror the configured binary sources.
ensure_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  log "adding deb-src entries for the configured Debian sources"
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$src" | as_root tee /etc/apt/sources.list.d/zelto-cua-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      as_root tee /etc/apt/sources.list.d/zelto-cua-src.list >/dev/null
  else
    log "no apt sources found"; return 1
  fi
  as_root apt-get update -qq
}

pkg_version() { dpkg-query -W -f '${Version}' "$1" | tr ':~+' '___'; }

# Unpacks Debian's source package $1 into $2 (once) and prints the tree.
fetch_source() {
  local name="$1" dir="$2"
  local unpacked="$dir/.unpacked"
  dir="$dir/src"
  if [ ! -f "$unpacked" ]; then
    ensure_deb_src
    rm -rf "$dir"; mkdir -p "$dir"
    # The newest listed version may be missing from the mirror: try each, newest first.
    local version fetched=""
    for version in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -Vru); do
      if (cd "$dir" && apt-get source -qq "$name=$version" >/dev/null 2>&1); then
        fetched="$version"; break
      fi
      rm -rf "${dir:?}"/*
    done
    [ -n "$fetched" ] || { log "apt-get source $name failed"; return 1; }
    touch "$unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n1
}

# The CMake toolchain file for the libraries cross-built with CMake.
write_mingw_toolchain() {
  cat >"$1" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
EOF
}

# A fresh Release configure of a CMake source tree for MinGW, installing into
# the prefix; the remaining arguments are the package's own options.
configure_mingw_cmake() {
  local tree="$1" work="$2" prefix="$3"
  shift 3
  write_mingw_toolchain "$work/toolchain.cmake"
  rm -rf "$work/build"
  cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >/dev/null
}

build_libpng() {
  local prefix="$1"
  [ -f "$prefix/lib/libpng.a" ] && return 0
  log "cross-building libpng into $prefix"
  local work="$CACHE_ROOT/src/libpng"
  local tree; tree="$(fetch_source libpng1.6 "$work")"
  configure_mingw_cmake "$tree" "$work" "$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_FRAMEWORK=OFF -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
  cmake --build "$work/build" -j "$JOBS" >/dev/null
  cmake --install "$work/build" >/dev/null
  # Name the static archive plainly so the consumer needs no guessing.
  [ -f "$prefix/lib/libpng.a" ] || cp "$prefix"/lib/libpng16*.a "$prefix/lib/libpng.a"
}

# Only the static library and its headers are used (its tools are not built).
build_libjpeg_turbo() {
  local prefix="$1"
  [ -f "$prefix/lib/libjpeg.a" ] && return 0
  log "cross-building libjpeg-turbo into $prefix"
  local work="$CACHE_ROOT/src/libjpeg-turbo"
  local tree; tree="$(fetch_source libjpeg-turbo "$work")"
  # REQUIRE_SIMD: without nasm the build would quietly fall back to plain C.
  configure_mingw_cmake "$tree" "$work" "$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON \
    -DCMAKE_ASM_NASM_COMPILER=nasm -Wno-dev
  cmake --build "$work/build" -j "$JOBS" --target jpeg-static >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/build/libjpeg.a" "$prefix/lib/libjpeg.a"
  cp "$tree/jpeglib.h" "$tree/jerror.h" "$tree/jmorecfg.h" "$work/build/jconfig.h" \
    "$prefix/include/"
}

build_icu() {
  local prefix="$1"
  [ -f "$prefix/lib/libsicuuc.a" ] && return 0
  log "cross-building ICU (common + stub data) into $prefix"
  local work="$CACHE_ROOT/src/icu"
  local tree; tree="$(fetch_source icu "$work")"
  local source="$tree/source"
  local flags=(--disable-tests --disable-samples --disable-extras --disable-icuio --disable-layoutex)
  # The cross build needs the host-built tools of the same version.
  if [ ! -f "$work/host/.built" ]; then
    rm -rf "$work/host"; mkdir -p "$work/host"
    (cd "$work/host" && "$source/configure" "${flags[@]}" >/dev/null && make -j"$JOBS" >/dev/null 2>&1)
    touch "$work/host/.built"
  fi
  if [ ! -f "$work/mingw/config.status" ]; then
    rm -rf "$work/mingw"; mkdir -p "$work/mingw"
    (cd "$work/mingw" &&
      "$source/configure" --host=x86_64-w64-mingw32 \
        CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
        --with-cross-build="$work/host" --enable-static --disable-shared \
        "${flags[@]}" --disable-tools --with-data-packaging=static >/dev/null)
  fi
  # Only the common library and the stub data are needed.
  (cd "$work/mingw" && mkdir -p lib bin &&
    make -j"$JOBS" -C stubdata >/dev/null 2>&1 && make -j"$JOBS" -C common >/dev/null 2>&1)
  mkdir -p "$prefix/lib" "$prefix/include/unicode"
  cp "$work/mingw/stubdata/libsicudt.a" "$prefix/lib/"
  cp "$work/mingw/lib/libsicuuc.a" "$prefix/lib/"
  cp "$source"/common/unicode/*.h "$prefix/include/unicode/"
}

# The MCP server's HTTP transport. Debian's binary package splits the header
# for a shared library, so the single header comes from the source package,
# pinned to this upstream version.
HTTPLIB_VERSION=0.11.4
install_httplib() {
  local prefix="$1"
  local header="$prefix/include/httplib.h"
  if [ -f "$header" ] && grep -q "^#define CPPHTTPLIB_VERSION \"$HTTPLIB_VERSION\"" "$header"; then
    return 0
  fi
  log "taking httplib.h $HTTPLIB_VERSION from Debian's cpp-httplib source package"
  local work="$CACHE_ROOT/src/cpp-httplib"
  local tree; tree="$(fetch_source cpp-httplib "$work")"
  if ! grep -q "^#define CPPHTTPLIB_VERSION \"$HTTPLIB_VERSION\"" "$tree/httplib.h"; then
    log "cpp-httplib in $tree is not version $HTTPLIB_VERSION"; return 1
  fi
  mkdir -p "$prefix/include"
  cp "$tree/httplib.h" "$header"
}

main() {
  install_apt_packages
  local key; key="png-$(pkg_version libpng-dev)_icu-$(pkg_version libicu-dev)"
  key="${key}_jpeg-$(pkg_version libjpeg62-turbo-dev)"
  local prefix="$CACHE_ROOT/mingw-$key"
  build_libpng "$prefix"
  build_libjpeg_turbo "$prefix"
  build_icu "$prefix"
  install_httplib "$prefix"
  ln -sfn "$prefix" "$CACHE_ROOT/mingw"
  log "MinGW dependencies ready in $prefix"
}

main "$@"
