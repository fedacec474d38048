#!/usr/bin/env bash
# Builds the release archive, checks it against its SHA256SUMS, unpacks it into a
# fresh folder of the test Wine prefix and runs the shipped programs from there
# (tests/mcp/archive_check.mjs; needs `npm ci` in tests/mcp). Uses the desktop of
# scripts/desktop.sh (ZELTO_DISPLAY, ZELTO_WINEPREFIX), starting it when it is down.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD="$PWD/build/windows-cross"
cmake --build --preset windows-cross -j "$(nproc)" --target package
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
name="zelto-cua-$version-win64"
(cd "$BUILD" && sha256sum --check --strict SHA256SUMS)
grep -q "  $name.zip\$" "$BUILD/SHA256SUMS"

export ZELTO_WINEPREFIX="${ZELTO_WINEPREFIX:-$BUILD/wineprefix}"
eval "$(bash scripts/desktop.sh start)"
unpacked="$ZELTO_WINEPREFIX/drive_c/zelto-archive-check"
rm -rf "$unpacked"
mkdir -p "$unpacked"
python3 -m zipfile -e "$BUILD/$name.zip" "$unpacked"

cd tests/mcp
ZELTO_ARCHIVE_DIR="$unpacked/$name" node --test archive_check.mjs
