#!/usr/bin/env bash
# ctest fixture of the document server: `fixture.sh start DIR` and `fixture.sh stop DIR`.
# DIR holds files/ (served), records/ (uploads), port and pid.
set -u
action=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
case $action in
  start)
    "$0" stop "$dir"
    rm -rf "$dir" && mkdir -p "$dir/files" "$dir/records"
    printf '<?xml version="1.0" encoding="gb2312"?><Root><BookMark Name="a" Text="b"/></Root>' >"$dir/files/page.xml"
    python3 "$here/docserver.py" --root "$dir/files" --records "$dir/records" --port-file "$dir/port" \
      --pid-file "$dir/pid" --daemon
    for _ in $(seq 100); do [ -s "$dir/port" ] && exit 0; sleep 0.05; done
    echo "document server did not start" >&2
    exit 1 ;;
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null
    rm -f "$dir/pid" "$dir/port"
    exit 0 ;;
esac
exit 2
