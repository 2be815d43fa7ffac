#!/usr/bin/env bash
# Static checks of a built NibWordHost.exe: a GUI program of the expected
# format whose imports are Windows DLLs only (nothing beside it to ship).
set -u
exe=$1 format=$2
. "$(dirname "$0")/pe-checks.sh"
pe_read "$exe" "$format"
check "a Windows GUI program (no console window)" grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$private"
pe_check_imports
exit $((failures > 0))
