#!/usr/bin/env python3
"""HTTP server on 127.0.0.1 for the download tests.

Prints the port it listens on as the first line of stdout, then serves:
  /good                 a small body (GOOD_BODY below)
  /missing              404
  /truncated            announces more bytes than it sends, then closes the connection
  /oversize             a chunked body of --oversize bytes (no length announced)
  /oversize-declared    the same size announced in Content-Length
  /redirect             302 to /good
  /redirect-loop        302 to itself
  /stall                sends part of the body, then nothing for a long time
  /drip                 announces 1000 bytes and sends them one a second
  anything else         the file of that path under --root, when given, else 404
"""

import argparse
import http.server
import os
import sys
import threading
import time

GOOD_BODY = b"PK-good-body-" + bytes(range(256)) * 64

requests_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = None
    log = None
    oversize = 2 * 1024 * 1024

    def log_message(self, fmt, *args):
        pass

    def send_body(self, body, status=200, content_type="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if self.log:
            with requests_lock, open(self.log, "a") as f:
                f.write(path + "\n")

        if path == "/good":
            self.send_body(GOOD_BODY)
        elif path == "/missing":
            self.send_body(b"not here", status=404, content_type="text/plain")
        elif path == "/truncated":
            self.send_response(200)
            self.send_header("Content-Length", str(len(GOOD_BODY) * 4))
            self.end_headers()
            self.wfile.write(GOOD_BODY[:1000])
            self.wfile.flush()
            self.close_connection = True
        elif path in ("/oversize", "/oversize-declared"):
            self.send_response(200)
            chunked = path == "/oversize"
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(self.oversize))
            self.end_headers()
            block = b"x" * 65536
            sent = 0
            try:
                while sent < self.oversize:
                    n = min(len(block), self.oversize - sent)
                    if chunked:
                        self.wfile.write(b"%x\r\n" % n + block[:n] + b"\r\n")
                    else:
                        self.wfile.write(block[:n])
                    sent += n
                if chunked:
                    self.wfile.write(b"0\r\n\r\n")
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
        elif path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/good")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path == "/redirect-loop":
            self.send_response(302)
            self.send_header("Location", "/redirect-loop")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", str(len(GOOD_BODY)))
            self.end_headers()
            self.wfile.write(GOOD_BODY[:100])
            self.wfile.flush()
            time.sleep(120)
            self.close_connection = True
        elif path == "/drip":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            try:
                for _ in range(1000):
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(1)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
        elif self.root:
            local = os.path.normpath(os.path.join(self.root, path.lstrip("/")))
            if local.startswith(os.path.abspath(self.root)) and os.path.isfile(local):
                with open(local, "rb") as f:
                    self.send_body(f.read())
            else:
                self.send_body(b"not here", status=404, content_type="text/plain")
        else:
            self.send_body(b"not here", status=404, content_type="text/plain")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root")
    parser.add_argument("--oversize", type=int, default=2 * 1024 * 1024)
    parser.add_argument("--log", help="append each requested path to this file")
    args = parser.parse_args()
    Handler.root = os.path.abspath(args.root) if args.root else None
    Handler.oversize = args.oversize
    Handler.log = args.log
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
