#!/usr/bin/env bash
# A headless Windows desktop: Xvfb + openbox + a private Wine prefix with a
# persistent wineserver. `start` brings up whatever is not running yet and prints
# the environment to use (eval it); `stop` ends all of it for that prefix.
#
#   ZELTO_LAYOUT     one-monitor (default): one Xvfb screen of ZELTO_SCREEN;
#                    two-monitors: a 1280x1024 monitor left of a 1920x1080 primary
#                    (Xephyr with Xinerama, nested in an Xvfb on ZELTO_HOST_DISPLAY)
#   ZELTO_DISPLAY    X display Wine uses (default :99; two-monitors :97)
#   ZELTO_HOST_DISPLAY two-monitors only: the Xvfb under Xephyr (default ZELTO_DISPLAY - 10)
#   ZELTO_SCREEN     Xvfb screen geometry (default 1920x1080x24; one-monitor only)
#   ZELTO_WINEPREFIX Wine prefix (default build/windows-cross/wineprefix;
#                    two-monitors build/windows-cross/wineprefix-two-monitors)
#   ZELTO_TOOLS_DIR  folder with the built test stand-ins (default build/windows-cross/tests/e2e/tools)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LAYOUT="${ZELTO_LAYOUT:-one-monitor}"
case "$LAYOUT" in
  one-monitor)
    DISPLAY_NAME="${ZELTO_DISPLAY:-:99}"
    PREFIX="${ZELTO_WINEPREFIX:-$ROOT/build/windows-cross/wineprefix}"
    ;;
  two-monitors)
    DISPLAY_NAME="${ZELTO_DISPLAY:-:97}"
    HOST_DISPLAY="${ZELTO_HOST_DISPLAY:-:$((${DISPLAY_NAME#:} - 10))}"
    PREFIX="${ZELTO_WINEPREFIX:-$ROOT/build/windows-cross/wineprefix-two-monitors}"
    ;;
  *) echo "unknown ZELTO_LAYOUT $LAYOUT (one-monitor or two-monitors)" >&2; exit 2 ;;
esac
SCREEN="${ZELTO_SCREEN:-1920x1080x24}"
# Two-monitors: the host screen holds both Xephyr windows side by side; each
# Xinerama head is one monitor to Wine, the left one at -1280 once the right
# one is made primary.
HOST_SCREEN="3300x1200x24"
HEADS=(1280x1024+0+0 1920x1080+1280+0)
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
  local display="$1" screen="$2" want have
  want="${screen%x*}"
  have="$(xdpyinfo -display "$display" | sed -n 's/^ *dimensions: *\([0-9]*x[0-9]*\) pixels.*/\1/p')"
  if [ "$have" != "$want" ]; then
    log "display $display is $have, not $want: stop it or choose another ZELTO_DISPLAY"
    return 1
  fi
}

# The Xinerama heads of a display, one "WxH+X+Y" a line.
xinerama_heads() {
  xdpyinfo -display "$1" -ext XINERAMA |
    sed -n 's/^ *head #[0-9]*: *\([0-9]*x[0-9]*\) @ \([0-9]*\), *\([0-9]*\).*/\1+\2+\3/p'
}

wait_for_x() {
  local i
  for i in $(seq 1 100); do
    xdpyinfo -display "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  log "X server $1 did not come up"; return 1
}

# Xvfb on display $2 with screen $3, its pid kept under name $1.
start_xvfb() {
  local name="$1" display="$2" screen="$3"
  if xdpyinfo -display "$display" >/dev/null 2>&1; then
    check_geometry "$display" "$screen"
    return
  fi
  log "starting Xvfb $display ($screen)"
  rm -f "/tmp/.X${display#:}-lock"
  start_detached "$name" Xvfb "$display" -screen 0 "$screen" -nolisten tcp
  wait_for_x "$display"
}

# Xvfb alone gives Wine one monitor whatever its Xinerama setup: Xephyr places
# its screens as real Xinerama heads, which Wine reads when told not to use XRandR.
start_xephyr() {
  if xdpyinfo -display "$DISPLAY_NAME" >/dev/null 2>&1; then
    if [ "$(xinerama_heads "$DISPLAY_NAME" | tr '\n' ' ')" != "${HEADS[*]} " ]; then
      log "display $DISPLAY_NAME does not have the heads ${HEADS[*]}: stop it or choose another ZELTO_DISPLAY"
      return 1
    fi
    return
  fi
  local args=() head
  for head in "${HEADS[@]}"; do args+=(-screen "$head"); done
  log "starting Xephyr $DISPLAY_NAME (${HEADS[*]}) on $HOST_DISPLAY"
  rm -f "/tmp/.X${DISPLAY_NAME#:}-lock"
  start_detached xephyr env DISPLAY="$HOST_DISPLAY" Xephyr "$DISPLAY_NAME" +xinerama "${args[@]}" \
    -nolisten tcp
  wait_for_x "$DISPLAY_NAME"
}

start_x() {
  case "$LAYOUT" in
    one-monitor) start_xvfb xvfb "$DISPLAY_NAME" "$SCREEN" ;;
    two-monitors) start_xvfb xvfb "$HOST_DISPLAY" "$HOST_SCREEN"; start_xephyr ;;
  esac
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
  [ "$LAYOUT" = two-monitors ] && use_xinerama
  # Start the prefix's services now, with nothing of ours to inherit; started
  # later by a test program they would hold that program's pipes open.
  wine wineboot </dev/null >/dev/null 2>&1 || true
  install_standins
}

# Wine's monitors from Xinerama, the right head primary. Its Xinerama source
# has no change events and the desktop reads the keys once, so they must be in
# place before the prefix's wineserver starts: set them, then restart it.
use_xinerama() {
  grep -q '^"UseXRandR"="N"' "$PREFIX/user.reg" 2>/dev/null &&
    grep -q '^"PrimaryMonitor"="1"' "$PREFIX/user.reg" && return 0
  log "setting the Xinerama monitor keys in $PREFIX"
  local key='HKCU\Software\Wine\X11 Driver'
  wine reg add "$key" /v UseXRandR /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  wine reg add "$key" /v PrimaryMonitor /t REG_SZ /d 1 /f </dev/null >/dev/null 2>&1
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1 || true
}

print_env() {
  printf 'export DISPLAY=%q WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q WINEARCH=%q\n' \
    "$DISPLAY" "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$WINEARCH"
}

stop_all() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  local name
  for name in openbox xephyr xvfb; do
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
