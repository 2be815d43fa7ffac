# What the static checks of our Windows binaries share (sourced, not run):
# reading a PE file with the right objdump, the check reporter, its format and
# the rule that it imports Windows DLLs only (nothing to ship beside it).
#   pe_read FILE FORMAT      sets $headers and $private, checks the format
#   pe_check_imports         every import is a Windows DLL
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

pe_read() {
  local file=$1 format=$2 objdump=x86_64-w64-mingw32-objdump
  [ "$format" = pei-i386 ] && objdump=i686-w64-mingw32-objdump
  headers=$($objdump -f "$file") || { echo "FAILED: objdump cannot read $file"; exit 1; }
  private=$($objdump -p "$file")
  check "file format is $format" grep -q "file format $format\$" <<<"$headers"
}

pe_check_imports() {
  local imports name
  imports=$(grep 'DLL Name:' <<<"$private" | awk '{print tolower($3)}' | sort -u)
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
  local allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shlwapi|shell32|urlmon|wininet|comctl32|msvcrt|version)\.dll$'
  for name in $imports; do
    check "import $name is a Windows DLL" grep -Eq "$allowed" <<<"$name"
  done
}
