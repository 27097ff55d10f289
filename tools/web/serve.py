#!/usr/bin/env python3
"""Serves the page's folder on 127.0.0.1 as any static host would, compressed with gzip where
the browser accepts it, so that what a first visit costs can be measured.

    serve.py FOLDER [PORT]      (PORT 8080 by default; 0 picks a free one)

Prints "serving http://127.0.0.1:PORT/" once it listens. Only the loopback address is used:
Web Serial needs a secure context, which http://localhost and 127.0.0.1 are.
"""
import functools
import gzip
import hashlib
import http.server
import os
import sys

TYPES = {".wasm": "application/wasm", ".js": "text/javascript", ".webmanifest": "application/manifest+json",
         ".svg": "image/svg+xml", ".html": "text/html; charset=utf-8", ".css": "text/css"}
COMPRESSED = (".wasm", ".js", ".html", ".css", ".svg", ".webmanifest")


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, **TYPES}

    def log_message(self, *args):
        pass

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        if not path.endswith(COMPRESSED) or "gzip" not in self.headers.get("Accept-Encoding", ""):
            return super().send_head()
        try:
            with open(path, "rb") as f:
                content = f.read()
        except OSError:
            self.send_error(404)
            return None
        # As static hosts do: a copy the browser holds is confirmed by its tag, not sent again.
        tag = '"%s"' % hashlib.sha256(content).hexdigest()[:32]
        if self.headers.get("If-None-Match") == tag:
            self.send_response(304)
            self.send_header("ETag", tag)
            self.end_headers()
            return None
        body = gzip.compress(content, 9)
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.send_header("ETag", tag)
        self.end_headers()
        return _Body(body)


class _Body:
    def __init__(self, data):
        self.data = data

    def read(self, *_):
        data, self.data = self.data, b""
        return data

    def close(self):
        pass


def main():
    folder = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8080
    handler = functools.partial(Handler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    print(f"serving http://127.0.0.1:{server.server_address[1]}/", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
