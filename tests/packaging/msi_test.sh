#!/usr/bin/env bash
# The MSI package under Wine, in a prefix of its own (the tests' prefix has the
# build's DLL registered, which the package must neither rely on nor break):
# silent install, the installed registration and "nibword:" links (package_tests),
# a page script's unattended cycle, silent removal, and nothing left behind.
#   tests/packaging/msi_test.sh BUILD_DIR   (the document server fixture is running)
set -u
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
msi=$build/package/NibWordLib.msi
[ -f "$msi" ] || { echo "msi_test: $msi is missing (make package)"; exit 1; }
prefix=$build/package/wineprefix
run() { "$top/tools/wine-run" --prefix "$prefix" --register "$build/win64/office-double.exe" "$@"; }
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
cleanup() { WINEPREFIX=$prefix "$top/tools/wine-stop"; }
trap cleanup EXIT
[ -d "$prefix" ] && { WINEPREFIX=$prefix "$top/tools/wine-stop"; rm -rf "$prefix"; }

status=0
step() { echo "== $1"; }
fail() { echo "FAILED: $1"; status=1; }

step "silent install"
run msiexec /i "$(winpath "$msi")" /qn || fail "msiexec /i exited $?"

step "the installed registration and nibword: links"
run "$build/win64/tests/win/package_tests.exe" --gtest_filter='Installed.*' || fail "installed checks"

step "a page script's unattended cycle against the installed object"
# Wine's cscript ends with 0 after a script error: the script's own "ok:" line decides.
page=$(run cscript.exe //nologo "$(winpath "$top/tests/scripts/installed_page.js")" "$(winpath "$build/win64/docserver")")
echo "$page"
grep -q '^ok: ' <<<"$page" || fail "page script"

step "a 32-bit page script's unattended cycle against the installed x86 object"
# A 32-bit browser on 64-bit Windows loads the x86 DLL; the Office it drives
# here is the 64-bit double registered above.
page=$("$top/tools/wine-run" --arch 32 --prefix "$prefix" cscript.exe //nologo \
       "$(winpath "$top/tests/scripts/installed_page.js")" "$(winpath "$build/win64/docserver")")
echo "$page"
case $page in
  "wine-run: skipped:"*) echo "skipped: ${page#wine-run: skipped: }" ;;
  *) grep -q '^ok: ' <<<"$page" || fail "32-bit page script" ;;
esac

step "an upgrade by version replaces the installed package"
upgrade=$build/package/upgrade
"$top/packaging/make-package.py" "$build" --version 1.0.1 --output "$upgrade" >/dev/null || fail "building the upgrade"
run msiexec /i "$(winpath "$upgrade/NibWordLib.msi")" /qn || fail "msiexec /i (upgrade) exited $?"
run "$build/win64/tests/win/package_tests.exe" --gtest_filter='Upgraded.*' || fail "upgrade checks"

step "silent removal"
run msiexec /x "$(winpath "$upgrade/NibWordLib.msi")" /qn || fail "msiexec /x exited $?"
run "$build/win64/tests/win/package_tests.exe" --gtest_filter='Uninstalled.*' || fail "something was left"
exit $status
