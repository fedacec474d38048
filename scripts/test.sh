#!/usr/bin/env bash
# Runs every test tier on a Linux machine, fresh or not:
#   1. host unit tests against the simulated desktop (plain and under ASan/UBSan), and a
#      short run of every fuzz target,
#   2. the same unit tests cross-compiled with MinGW-w64, run under Wine,
#   3. end-to-end tests of the real zelto-cua.exe under Wine on an Xvfb desktop (and a
#      two-monitor one, Xephyr in Xvfb, for tests/e2e/test_two_monitors.py), then
#      zelto-cua-mcp.exe driven by an MCP client (tests/mcp, Node).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

JOBS="$(nproc)"
bash scripts/bootstrap.sh

# Warnings (-Wall -Wextra, set in CMakeLists.txt) fail these builds: a fresh build stays silent.
build() {
  cmake --preset "$1" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
}

echo "== tier 1: host unit tests"
build host
ctest --preset host
# The screenshot benchmark's own check: its PNG of the sample desktops decodes to
# exactly the expected pixels (no timing here; see the README for the figures).
FRAMES="${ZELTO_FRAMES_DIR:-$PWD/tests/bench/frames}"
build/host/tests/bench/screenshot_bench --frames="$FRAMES" --verify-only
build host-asan
ctest --preset host-asan

echo "== fuzz targets (clang, ASan/UBSan), about 20 s each"
bash scripts/fuzz.sh 20

echo "== tiers 2 and 3: Windows build under Wine"
build windows-cross
# The MCP client tests' packages, exactly as locked.
(cd tests/mcp && npm ci --no-audit --no-fund --loglevel=error)
# One headless desktop serves the Windows unit tests and the end-to-end tests.
export ZELTO_DISPLAY="${ZELTO_DISPLAY:-:99}"
export ZELTO_WINEPREFIX="$PWD/build/windows-cross/wineprefix"
eval "$(bash scripts/desktop.sh start)"
trap 'bash scripts/desktop.sh stop' EXIT
export ZELTO_E2E_KEEP_DESKTOP=1
ctest --preset windows-cross
# The release archive, unpacked into the test prefix and run from there.
bash scripts/check-archive.sh
