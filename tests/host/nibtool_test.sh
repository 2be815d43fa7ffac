#!/usr/bin/env bash
# nibtool from the command line: its three commands and its exit statuses.
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

mkdir -p "$work/page/page.files"
printf '<html>%0500d</html>' 0 >"$work/page/page.htm"
head -c 2000 /dev/urandom >"$work/page/page.files/a.png"
check "zip prints the number of files" test "$("$tool" zip "$work/page" "$work/a.zip")" = 2
check "the archive tests clean" unzip -tq "$work/a.zip"
printf '\xb1\xa3\xb4\xe6\xb2\xa2\xb9\xd8\xb1\xd5' >"$work/gb.txt"
check "gb2big5 converts the caption" test "$("$tool" gb2big5 <"$work/gb.txt" | od -An -tx1 | tr -d ' \n')" = ab4fa673a8c3c3f6b3ac
check "unique-name has 26 characters" grep -Eq '^[A-H][0-9A-V]{25}$' <<<"$("$tool" unique-name)"
"$tool" >/dev/null 2>&1; check "no arguments: status 2" test $? -eq 2
"$tool" zip onlyone >/dev/null 2>&1; check "missing argument: status 2" test $? -eq 2
"$tool" zip "$work/nothing-here" "$work/b.zip" >/dev/null 2>&1; check "unreadable folder: status 1" test $? -eq 1
"$tool" zip "$work/page" "$work/no/such/b.zip" >/dev/null 2>&1; check "unwritable archive: status 1" test $? -eq 1
exit $((failures > 0))
