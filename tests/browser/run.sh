#!/usr/bin/env bash
# The reference server and the page helper in a real browser (Chromium,
# headless, driven by playwright-core), against 127.0.0.1 only.
#   tests/browser/run.sh [node|java|php]     (the reference server to run against; node)
# Exits 0 when every test passed, 77 ("skipped: <reason>") when Chromium cannot
# be installed or started, non-zero otherwise.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
chromium=${NIB_CHROMIUM:-/usr/bin/chromium}
skip() { echo "skipped: $1"; exit 77; }

export NIB_SERVER=${1:-node}
command -v node >/dev/null || skip "node is not installed"
case $NIB_SERVER in
  java) command -v java >/dev/null || skip "java is not installed (tools/bootstrap installs it)" ;;
  php) command -v php >/dev/null || skip "php is not installed (tools/bootstrap installs it)" ;;
esac
command -v npm >/dev/null || skip "npm is not installed"

if [ ! -x "$chromium" ]; then
  if command -v apt-get >/dev/null; then
    sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
    echo "run.sh: installing chromium"
    $sudo apt-get install -y chromium >/dev/null 2>&1 ||
      { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y chromium >/dev/null 2>&1; }
  fi
  [ -x "$chromium" ] || skip "chromium is not installed and could not be installed"
fi

# Can it start at all here? (A fresh profile, removed after.)
profile=$(mktemp -d "${TMPDIR:-/tmp}/nibword-probe.XXXXXX")
timeout -k 5 60 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$profile" --dump-dom about:blank >/dev/null 2>"$profile.err"
probe=$?
err=$(tail -n 3 "$profile.err" | tr '\n' ' ')
rm -rf "$profile" "$profile.err"
[ $probe -eq 0 ] || skip "chromium does not start (exit $probe): $err"

(cd "$root/examples/server" && npm ci --no-audit --no-fund --loglevel=error) || { echo "run.sh: npm ci failed in examples/server" >&2; exit 1; }
(cd "$here" && npm ci --no-audit --no-fund --loglevel=error) || { echo "run.sh: npm ci failed in tests/browser" >&2; exit 1; }

cd "$here" && exec node --test --test-concurrency=1 helper.test.js
