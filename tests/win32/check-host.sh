#!/usr/bin/env bash
# Static checks of a built NibWordHost.exe: a GUI program of the expected
# format whose imports are Windows DLLs only (nothing beside it to ship).
set -u
exe=$1 format=$2
case $format in
  pei-i386) objdump=i686-w64-mingw32-objdump ;;
  *) objdump=x86_64-w64-mingw32-objdump ;;
esac
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
headers=$($objdump -f "$exe") || { echo "FAILED: objdump cannot read $exe"; exit 1; }
private=$($objdump -p "$exe")
check "file format is $format" grep -q "file format $format\$" <<<"$headers"
check "a Windows GUI program (no console window)" grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$private"
imports=$(grep 'DLL Name:' <<<"$private" | awk '{print tolower($3)}' | sort -u)
echo "imports: $(tr '\n' ' ' <<<"$imports")"
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shlwapi|shell32|urlmon|wininet|comctl32|msvcrt|version)\.dll$'
for name in $imports; do
  check "import $name is a Windows DLL" grep -Eq "$allowed" <<<"$name"
done
exit $((failures > 0))
