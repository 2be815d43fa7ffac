#!/usr/bin/env bash
# The layers below the automation object never reach up into it: the Word
# driver, the XML fill, the windows, the conversion and the services know the
# object only through ICommGUI/IInnerFunc and the values its page shares with them.
#   tests/host/layering_test.sh SOURCE_DIR
set -u
src=$1/src
found=$(grep -rn '#include "automation/' "$src"/{word,merge,ui,convert,services,com,zip,host} 2>/dev/null)
if [ -n "$found" ]; then
  echo "FAILED: below automation/, these include it:"
  echo "$found"
  exit 1
fi
echo "ok: nothing below automation/ includes it"
