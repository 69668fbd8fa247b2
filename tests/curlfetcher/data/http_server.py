#!/usr/bin/python3
"""Small HTTP server for the fetcher tests, on 127.0.0.1 at a port the system chooses (printed
on standard output). It plays three parts:

- a site with a log-in form: /pre sets a cookie, /login checks the form (GET query or POST
  body) and sets the session cookie, /echo and /search describe the request they got;
- a forward proxy: absolute-form targets are answered with "proxied <url>", and targets whose
  path holds "needs-proxy-auth" first ask for proxy credentials; CONNECT opens a tunnel in
  which the next request is answered with "tunneled <authority> <path>";
- a hostile server: /flood sends header lines without end.
"""
import sys
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    tunnel = None

    def log_message(self, *args):
        pass

    def reply(self, code, body, headers=()):
        data = body.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def describe(self, form=""):
        lines = [
            "method " + self.command,
            "path " + self.path,
            "agent " + str(self.headers.get("User-Agent")),
            "accept " + str(self.headers.get("Accept")),
            "cookie " + str(self.headers.get("Cookie")),
            "proxy-auth " + str(self.headers.get("Proxy-Authorization")),
            "form " + form,
        ]
        return "\n".join(lines) + "\n"

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length).decode("latin-1") if length else ""

    def do_CONNECT(self):
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        authority = self.path
        self.tunnel = authority
        self.close_connection = False
        self.handle_one_request()
        self.close_connection = True

    def do_POST(self):
        self.route(self.read_body())

    def do_GET(self):
        self.route("")

    def route(self, body):
        if self.tunnel is not None:
            self.reply(200, "tunneled %s %s\n" % (self.tunnel, self.path))
            return
        if self.path.startswith("http://"):
            if "needs-proxy-auth" in self.path and not self.headers.get("Proxy-Authorization"):
                self.reply(407, "proxy credentials needed\n",
                           [("Proxy-Authenticate", 'Basic realm="proxy"')])
                return
            self.reply(200, "proxied " + self.path + "\n" + self.describe())
            return
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/pre":
            self.reply(200, "pre\n", [("Set-Cookie", "pre=1; Path=/")])
        elif url.path == "/login":
            form = body if self.command == "POST" else url.query
            fields = urllib.parse.parse_qs(form)
            ok = fields.get("user") == ["alice"] and fields.get("pass") == ["s&cret =%"]
            headers = [("Set-Cookie", "session=abc123; Path=/")] if ok else []
            self.reply(200 if ok else 403, self.describe(form), headers)
        elif url.path in ("/echo", "/search", "/results.aspx"):
            self.reply(200, self.describe(body))
        elif url.path == "/flood":
            try:
                self.wfile.write(b"HTTP/1.1 200 OK\r\n")
                for i in range(4000):
                    self.wfile.write(("X-Flood-%d: %s\r\n" % (i, "y" * 1000)).encode())
            except OSError:
                pass
            self.close_connection = True
        else:
            self.reply(404, "not here\n")


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
