#!/usr/bin/env bash
# ctest fixture of the document server: `fixture.sh start DIR` and `fixture.sh stop DIR`.
# DIR holds files/ (served), records/ (uploads), port and pid.
# `start-tls DIR` serves https with a certificate for "localhost" made here
# and now, signed by a test CA (DIR/ca.pem); `start-proxy DIR` runs the
# recording proxy (DIR/proxy.log). Both stop with `stop DIR`.
set -u
action=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
case $action in
  start)
    "$0" stop "$dir"
    rm -rf "$dir" && mkdir -p "$dir/files" "$dir/records"
    printf '<?xml version="1.0" encoding="gb2312"?><Root><BookMark Name="a" Text="b"/></Root>' >"$dir/files/page.xml"
    # Where a server whose session ran out sends its visitors: a page that answers 200.
    printf '<html><body>please log in</body></html>' >"$dir/files/login.html"
    python3 "$here/docserver.py" --root "$dir/files" --records "$dir/records" --port-file "$dir/port" \
      --pid-file "$dir/pid" --daemon
    for _ in $(seq 100); do [ -s "$dir/port" ] && exit 0; sleep 0.05; done
    echo "document server did not start" >&2
    exit 1 ;;
  start-tls)
    "$0" stop "$dir"
    rm -rf "$dir" && mkdir -p "$dir/files" "$dir/records"
    quiet() { "$@" >/dev/null 2>&1; }
    quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=NibWordLib test CA" \
      -keyout "$dir/ca.key" -out "$dir/ca.pem" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" || { echo "openssl failed" >&2; exit 1; }
    quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$dir/server.key" -out "$dir/server.csr"
    printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$dir/server.ext"
    quiet openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
      -extfile "$dir/server.ext" -out "$dir/server.pem" || { echo "openssl failed" >&2; exit 1; }
    python3 "$here/docserver.py" --root "$dir/files" --records "$dir/records" --port-file "$dir/port" \
      --pid-file "$dir/pid" --daemon --tls-cert "$dir/server.pem" --tls-key "$dir/server.key"
    for _ in $(seq 100); do [ -s "$dir/port" ] && exit 0; sleep 0.05; done
    echo "document server did not start" >&2
    exit 1 ;;
  start-proxy)
    "$0" stop "$dir"
    rm -rf "$dir" && mkdir -p "$dir"
    python3 "$here/proxy.py" --log "$dir/proxy.log" --port-file "$dir/port" --pid-file "$dir/pid" --daemon
    for _ in $(seq 100); do [ -s "$dir/port" ] && exit 0; sleep 0.05; done
    echo "proxy did not start" >&2
    exit 1 ;;
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null
    rm -f "$dir/pid" "$dir/port"
    exit 0 ;;
esac
exit 2
