#!/usr/bin/env python3
"""A site with a log-in for the worker tests, on 127.0.0.1 at the port given: /login?user=alice
&pass=secret sets the session cookie, /echo shows the Cookie header it got, and every other
path is served from the folder given (with its ".tnm" side files)."""
import sys
import urllib.parse
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer


class Handler(SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, code, body, headers=()):
        data = body.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/login":
            fields = urllib.parse.parse_qs(url.query)
            ok = fields.get("user") == ["alice"] and fields.get("pass") == ["secret"]
            headers = [("Set-Cookie", "session=abc123; Path=/")] if ok else []
            self.reply(200 if ok else 403, "<html><body>login</body></html>", headers)
        elif url.path == "/echo":
            cookie = str(self.headers.get("Cookie"))
            self.reply(200, "<html><title>echo</title><body><p>cookie %s</p></body></html>" % cookie)
        else:
            super().do_GET()


if __name__ == "__main__":
    root = sys.argv[2]
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), handler).serve_forever()
