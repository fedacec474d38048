#!/usr/bin/env bash
# Runs one action for real: builds zelto-cua.exe if needed, brings up a headless
# Windows desktop (Xvfb + openbox + Wine) if none is up, sends the request,
# prints the result line and exits with the executor's status.
#   scripts/run.sh '{"action":"screenshot"}'
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [ $# -ne 1 ]; then
  echo "usage: $0 '<request json>'" >&2
  exit 2
fi

bash scripts/bootstrap.sh >&2
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross -j "$(nproc)" --target zelto-cua zelto-probe >&2
eval "$(bash scripts/desktop.sh start)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '%s\n' "$1" >"$work/request"
# Files, not pipes: programs an action starts may keep a pipe open for ever.
status=0
wine build/windows-cross/zelto-cua.exe <"$work/request" >"$work/out" 2>"$work/err" || status=$?
cat "$work/err" >&2
head -n 1 "$work/out"
exit "$status"
