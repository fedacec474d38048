#!/usr/bin/env bash
# A headless Windows desktop: Xvfb + openbox + a private Wine prefix with a
# persistent wineserver. `start` brings up whatever is not running yet and prints
# the environment to use (eval it); `stop` ends all of it for that prefix.
#
#   ZELTO_DISPLAY    X display (default :99)
#   ZELTO_SCREEN     Xvfb screen geometry (default 1920x1080x24)
#   ZELTO_WINEPREFIX Wine prefix (default build/windows-cross/wineprefix)
#   ZELTO_TOOLS_DIR  folder with the built test stand-ins (default build/windows-cross/tests/e2e/tools)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DISPLAY_NAME="${ZELTO_DISPLAY:-:99}"
SCREEN="${ZELTO_SCREEN:-1920x1080x24}"
PREFIX="${ZELTO_WINEPREFIX:-$ROOT/build/windows-cross/wineprefix}"
TOOLS_DIR="${ZELTO_TOOLS_DIR:-$ROOT/build/windows-cross/tests/e2e/tools}"
STATE="/tmp/zelto-cua-desktop${DISPLAY_NAME#:}"

export DISPLAY="$DISPLAY_NAME"
export WINEPREFIX="$PREFIX"
export WINEDEBUG=-all
# No Mono or Gecko installs; our PowerShell stand-in instead of Wine's built-in stub.
export WINEDLLOVERRIDES="mscoree,mshtml=;powershell.exe=n"
export WINEARCH=win64

log() { printf '[desktop] %s\n' "$*" >&2; }

alive() { [ -f "$STATE/$1.pid" ] && kill -0 "$(cat "$STATE/$1.pid")" 2>/dev/null; }

start_detached() {
  local name="$1"; shift
  setsid "$@" </dev/null >"$STATE/$name.log" 2>&1 &
  echo $! >"$STATE/$name.pid"
}

# An X server already on that display must have the geometry we were asked for.
check_geometry() {
  local want="${SCREEN%x*}" have
  have="$(xdpyinfo -display "$DISPLAY_NAME" | sed -n 's/^ *dimensions: *\([0-9]*x[0-9]*\) pixels.*/\1/p')"
  if [ "$have" != "$want" ]; then
    log "display $DISPLAY_NAME is $have, not $want: stop it or choose another ZELTO_DISPLAY"
    return 1
  fi
}

start_x() {
  if xdpyinfo -display "$DISPLAY_NAME" >/dev/null 2>&1; then
    check_geometry
    return
  fi
  log "starting Xvfb $DISPLAY_NAME ($SCREEN)"
  rm -f "/tmp/.X${DISPLAY_NAME#:}-lock"
  start_detached xvfb Xvfb "$DISPLAY_NAME" -screen 0 "$SCREEN" -nolisten tcp
  local i
  for i in $(seq 1 100); do
    xdpyinfo -display "$DISPLAY_NAME" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  log "Xvfb did not come up"; return 1
}

# Wine hands maximizing and decorations to the X window manager.
start_wm() {
  alive openbox && return 0
  start_detached openbox openbox --sm-disable
  sleep 0.5
}

install_standins() {
  local standin="$TOOLS_DIR/powershell/powershell.exe"
  if [ -f "$standin" ]; then
    local target="$PREFIX/drive_c/windows/system32/WindowsPowerShell/v1.0"
    mkdir -p "$target"
    cmp -s "$standin" "$target/powershell.exe" || cp "$standin" "$target/powershell.exe"
  fi
}

start_wine() {
  mkdir -p "$(dirname "$PREFIX")"
  # The server must not hold our pipes: its standard streams go to /dev/null.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$PREFIX/system.reg" ]; then
    log "creating Wine prefix $PREFIX (about a minute)"
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
  fi
  # Start the prefix's services now, with nothing of ours to inherit; started
  # later by a test program they would hold that program's pipes open.
  wine wineboot </dev/null >/dev/null 2>&1 || true
  install_standins
}

print_env() {
  printf 'export DISPLAY=%q WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q WINEARCH=%q\n' \
    "$DISPLAY" "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$WINEARCH"
}

stop_all() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  local name
  for name in openbox xvfb; do
    if alive "$name"; then
      kill "$(cat "$STATE/$name.pid")" 2>/dev/null || true
    fi
    rm -f "$STATE/$name.pid"
  done
}

mkdir -p "$STATE"
case "${1:-start}" in
  start) start_x; start_wm; start_wine; print_env ;;
  env) print_env ;;
  stop) stop_all ;;
  *) echo "usage: $0 start|env|stop" >&2; exit 2 ;;
esac
