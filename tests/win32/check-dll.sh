#!/usr/bin/env bash
# Static checks of a built NibWordLib.dll: file format, the four exports with
# their ordinals, the embedded type library, and imports from Windows only.
set -u
dll=$1 format=$2
. "$(dirname "$0")/pe-checks.sh"
pe_read "$dll" "$format"

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

pe_check_imports
exit $((failures > 0))
