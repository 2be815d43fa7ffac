#!/usr/bin/env python3
"""The local document server of the tests (standard library only).

Serves the files of --root by GET; records every POST under --records
(<id>.body with the raw body, <id>.meta with "key: value" lines: method, path,
query, and each header). Each request says how to answer in its own query, so
tests running side by side never share state:
  status=N      answer with status N (default 200)
  reply=TEXT    the reply body for a POST (default "OK"); TEXT is UTF-8, sent as GB2312
  delay=MS      wait before answering
  drop=1        close the connection without answering
  id=NAME       the record's name (default: a counter)
  type=TYPE     the Content-Type of a served file
  redirect=URL  answer with a redirect there (status 302 unless status=N says otherwise)
  session=NAME  the answer sets a session cookie "nib_NAME" with a fresh value, as a login does
  guard=NAME    the request must carry that session's cookie; without it a GET is answered 403 and
                a POST is sent to /login.html with a 302 (as a server whose session ran out does),
                its body not recorded (<id>.refused holds its headers)
  need=K=V      the request must carry the cookie K=V (one the browser stored), else as guard
  append=1      a POST's body is added to <id>.body, one line each, instead of replacing it
  rate=BYTES    a POST's body is read at that many bytes a second (a slow line)
  stall=MS      a POST's body is not read at all for MS milliseconds (a server that stopped reading)
  authenticate=SCHEME  the answer asks for a logon: "WWW-Authenticate: SCHEME" (use with status=401)
  A POST whose body does not arrive whole (the client gave up) leaves <id>.aborted
  with the bytes that came, and no .body: a server never keeps half an upload.
  A GET with id=NAME leaves <id>.get (its path and query), so tests can tell a fetch happened.
Binds 127.0.0.1 on a free port and writes the port to --port-file.
With --tls-cert and --tls-key it speaks https instead.
  docserver.py --root DIR --records DIR --port-file FILE [--pid-file FILE] [--daemon]
               [--tls-cert PEM --tls-key PEM]
"""
import argparse
import http.server
import itertools
import os
import secrets
import ssl
import threading
import time
import urllib.parse

from serving import add_server_options, serve

counter = itertools.count(1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def options(self):
        query = urllib.parse.urlsplit(self.path).query
        return {k: v[-1] for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()}

    def control(self):
        """Applies delay and drop; False when the connection was dropped."""
        opts = self.options()
        if "delay" in opts:
            time.sleep(int(opts["delay"]) / 1000)
        if opts.get("drop") == "1":
            self.close_connection = True
            self.connection.close()
            return False
        return True

    def cookies(self):
        found = {}
        for part in self.headers.get("Cookie", "").split(";"):
            key, _, value = part.strip().partition("=")
            if key:
                found[key] = value
        return found

    def allowed(self):
        """False when the request lacks the cookie its guard or need asks for."""
        opts, cookies = self.options(), self.cookies()
        if "guard" in opts:
            name = "nib_" + opts["guard"]
            token = self.server.sessions.get(name)
            if token is None or cookies.get(name) != token:
                return False
        if "need" in opts:
            key, _, value = opts["need"].partition("=")
            if cookies.get(key) != value:
                return False
        return True

    def session_cookie(self):
        """The Set-Cookie header a session=NAME request earns, or None."""
        name = self.options().get("session")
        if not name:
            return None
        token = secrets.token_hex(8)
        self.server.sessions["nib_" + name] = token
        return f"nib_{name}={token}; Path=/"

    def answer(self, status, body, content_type="text/html; charset=gb2312"):
        self.send_response(status)
        cookie = self.session_cookie()
        if cookie:
            self.send_header("Set-Cookie", cookie)
        scheme = self.options().get("authenticate")
        if scheme:
            self.send_header("WWW-Authenticate", scheme)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        opts = self.options()
        if opts.get("id"):
            with open(os.path.join(self.server.records, opts["id"] + ".get"), "w", encoding="utf-8") as f:
                f.write(self.path + "\n")
        if not self.control():
            return
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).lstrip("/")
        file = os.path.realpath(os.path.join(self.server.root, path))
        status = int(opts.get("status", "200"))
        if "redirect" in opts:
            self.send_response(int(opts.get("status", "302")))
            self.send_header("Location", opts["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif not self.allowed():
            self.answer(403, b"<html><body>log in first</body></html>")
        elif status != 200:
            self.answer(status, f"<html><body>error {status}</body></html>".encode())
        elif file.startswith(self.server.root + os.sep) and os.path.isfile(file):
            kind = "text/xml; charset=gb2312" if file.endswith(".xml") else "application/octet-stream"
            kind = opts.get("type", kind)
            with open(file, "rb") as f:
                self.answer(200, f.read(), kind)
        else:
            self.answer(404, b"<html><body>404 Not Found</body></html>")

    def read_body(self, length):
        """The body as the options say to read it; shorter when the client gave up."""
        opts = self.options()
        if "stall" in opts:
            time.sleep(int(opts["stall"]) / 1000)
        if "rate" not in opts:
            return self.rfile.read(length)
        rate, parts = max(1, int(opts["rate"])), []
        step = max(1, rate // 10)
        received = 0
        while received < length:
            part = self.rfile.read1(min(step, length - received))
            if not part:
                break
            parts.append(part)
            received += len(part)
            time.sleep(len(part) / rate)
        return b"".join(parts)

    def do_POST(self):
        opts = self.options()
        length = int(self.headers.get("Content-Length", "0"))
        try:
            body = self.read_body(length)
        except OSError:
            body = b""
        name = opts.get("id") or str(next(counter))
        if len(body) < length:
            with open(os.path.join(self.server.records, name + ".aborted"), "wb") as f:
                f.write(body)
            self.close_connection = True
            return
        parts = urllib.parse.urlsplit(self.path)
        allowed = self.allowed()
        if allowed:
            appending = opts.get("append") == "1"
            with open(os.path.join(self.server.records, name + ".body"), "ab" if appending else "wb") as f:
                f.write(body + (b"\n" if appending else b""))
        meta = name + (".meta" if allowed else ".refused")
        with open(os.path.join(self.server.records, meta), "w", encoding="utf-8") as f:
            f.write(f"method: POST\npath: {parts.path}\nquery: {parts.query}\n")
            for key, value in self.headers.items():
                f.write(f"{key}: {value}\n")
        if not self.control():
            return
        if not allowed:
            self.send_response(302)
            self.send_header("Location", "/login.html")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if "redirect" in opts:
            self.send_response(int(opts.get("status", "302")))
            self.send_header("Location", opts["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.answer(int(opts.get("status", "200")), opts.get("reply", "OK").encode("gb2312"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--records", required=True)
    add_server_options(parser)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    args = parser.parse_args()
    os.makedirs(args.records, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.root = os.path.realpath(args.root)
    server.records = os.path.realpath(args.records)
    server.sessions = {}
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    serve(server, args)


if __name__ == "__main__":
    main()
