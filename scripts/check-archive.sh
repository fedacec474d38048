#!/usr/bin/env bash
# Builds the release archive and the MCP Bundle, checks them against SHA256SUMS,
# validates the bundle's manifest with the pinned mcpb CLI, unpacks both into fresh
# folders of the test Wine prefix and runs the shipped programs from there
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
grep -q "  $name.mcpb\$" "$BUILD/SHA256SUMS"

export ZELTO_WINEPREFIX="${ZELTO_WINEPREFIX:-$BUILD/wineprefix}"
eval "$(bash scripts/desktop.sh start)"
unpacked="$ZELTO_WINEPREFIX/drive_c/zelto-archive-check"
rm -rf "$unpacked"
mkdir -p "$unpacked"
python3 -m zipfile -e "$BUILD/$name.zip" "$unpacked"
bundle="$ZELTO_WINEPREFIX/drive_c/zelto-bundle-check"
rm -rf "$bundle"

cd tests/mcp
# Unpacked by the bundle tool itself, as a client installing it would.
npx --no-install mcpb unpack "$BUILD/$name.mcpb" "$bundle" >/dev/null
npx --no-install mcpb validate "$bundle/manifest.json"
ZELTO_ARCHIVE_DIR="$unpacked/$name" ZELTO_BUNDLE_DIR="$bundle" node --test archive_check.mjs
