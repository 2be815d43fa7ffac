#!/usr/bin/env bash
# Static checks of a built NibWordLib.dll: file format, the four exports with
# their ordinals, the embedded type library, and imports from Windows only.
set -u
dll=$1 format=$2
case $format in
  pei-i386) objdump=i686-w64-mingw32-objdump ;;
  *) objdump=x86_64-w64-mingw32-objdump ;;
esac
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
headers=$($objdump -f "$dll") || { echo "FAILED: objdump cannot read $dll"; exit 1; }
private=$($objdump -p "$dll")

check "file format is $format" grep -q "file format $format\$" <<<"$headers"

# The name table lists each export with its ordinal minus the base (1).
check "ordinal base is 1" grep -q 'Ordinal Base 1$' <<<"$private"
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$private")
for entry in "0 DllUnregisterServer" "1 DllRegisterServer" "2 DllCanUnloadNow" "3 DllGetClassObject"; do
  set -- $entry
  check "export $2 has ordinal $(($1 + 1))" grep -Eq "^[[:space:]]*\[ *$1\] $2\$" <<<"$names"
done
count=$(grep -Ec '^[[:space:]]*\[ *[0-9]+\] ' <<<"$names")
check "exactly four exports (found $count)" test "$count" -eq 4

check "TYPELIB resource present" grep -Eq 'Entry: name: .*TYPELIB' <<<"$private"

imports=$(grep 'DLL Name:' <<<"$private" | awk '{print tolower($3)}' | sort -u)
echo "imports: $(tr '\n' ' ' <<<"$imports")"
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shlwapi|shell32|urlmon|wininet|comctl32|msvcrt|version)\.dll$'
for name in $imports; do
  check "import $name is a Windows DLL" grep -Eq "$allowed" <<<"$name"
done
exit $((failures > 0))
