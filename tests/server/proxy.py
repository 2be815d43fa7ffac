#!/usr/bin/env python3
"""A forwarding HTTP proxy for the tests (standard library only): every
request it is asked to carry is forwarded to its target and recorded, one
line "METHOD URL" per request, in --log. Binds 127.0.0.1 on a free port and
writes the port to --port-file.
  proxy.py --log FILE --port-file FILE [--pid-file FILE] [--daemon]
"""
import argparse
import http.client
import http.server
import os
import urllib.parse

from serving import add_server_options, serve


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def forward(self):
        # Proxies are sent the absolute address; some clients send only the
        # path, with the target in the Host header.
        url = self.path if not self.path.startswith("/") else f"http://{self.headers.get('Host', '')}{self.path}"
        with open(self.server.log, "a") as f:
            f.write(f"{self.command} {url}\n")
        target = urllib.parse.urlsplit(url)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else None
        headers = {k: v for k, v in self.headers.items() if k.lower() not in ("proxy-connection", "connection")}
        try:
            upstream = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
            upstream.request(self.command, target.path + ("?" + target.query if target.query else ""), body, headers)
            answer = upstream.getresponse()
            data = answer.read()
        except OSError:
            self.send_error(502)
            return
        self.send_response(answer.status)
        for key, value in answer.getheaders():
            if key.lower() not in ("transfer-encoding", "connection", "content-length"):
                self.send_header(key, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_POST = forward


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    add_server_options(parser)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log = os.path.realpath(args.log)
    open(server.log, "a").close()
    serve(server, args)


if __name__ == "__main__":
    main()
