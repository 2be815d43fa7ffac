#!/usr/bin/env bash
# The whole launcher path: the sample page (Chromium) asks the reference
# server for a nibword: link, NibWordHost.exe runs it under Wine as the browser
# would, and the server must receive the launcher's event post and result.
#   tests/browser/launcher_e2e.sh <build tree, e.g. build/win64> [node|java|php]
# Exits 77 ("skipped: <reason>") when the tree has no NibWordHost.exe or
# Chromium cannot run. Uses the tree's Wine prefix (sets AllowedOrigins there
# for the run and deletes the value after); starts an Xvfb when there is no
# DISPLAY and ends it (by its pid) before returning.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
skip() { echo "skipped: $1"; exit 77; }

[ $# -eq 1 ] || [ $# -eq 2 ] || { echo "usage: launcher_e2e.sh <build tree> [node|java|php]" >&2; exit 2; }
export NIB_SERVER=${2:-node}
case $NIB_SERVER in
  node) ;;
  java|php) command -v "$NIB_SERVER" >/dev/null || skip "$NIB_SERVER is not installed (tools/bootstrap installs it)" ;;
  *) echo "launcher_e2e: the server is node, java or php, not $NIB_SERVER" >&2; exit 2 ;;
esac
build=$(cd "$1" 2>/dev/null && pwd) || skip "no build tree at $1"
[ -f "$build/NibWordHost.exe" ] || skip "$build/NibWordHost.exe is missing (build the win64 tree first)"
for f in NibWordLib.dll office-double.exe tests/win/user-at-word.exe; do [ -f "$build/$f" ] || skip "$build/$f is missing"; done
[ -x "${NIB_CHROMIUM:-/usr/bin/chromium}" ] || skip "chromium is not installed (tests/browser/run.sh installs it)"
[ -d "$root/examples/server/node_modules" ] || (cd "$root/examples/server" && npm ci --no-audit --no-fund --loglevel=error) || exit 1
[ -d "$here/node_modules" ] || (cd "$here" && npm ci --no-audit --no-fund --loglevel=error) || exit 1

xvfb=
if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || skip "no DISPLAY and no Xvfb"
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { kill "$xvfb"; rm -f "$display_file"; echo "launcher_e2e: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -n1 "$display_file")
  rm -f "$display_file"
fi

cd "$here" && node launcher_e2e.js "$build"
rc=$?
[ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
exit $rc
