#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest. Its output goes through a
# file, not ctest's pipe: Wine services and programs a test starts inherit the
# standard handles and would keep a pipe open long after the test has ended.
set -u
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
wine "$@" </dev/null >"$out" 2>&1
status=$?
cat "$out"
exit "$status"
