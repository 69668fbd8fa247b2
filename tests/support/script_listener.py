"""The listening side of the test server scripts that tests/support/script_server.h starts.

serve_forever(handle) listens on 127.0.0.1 at a port the system chooses, writes the port as the
first line of standard output and hands every connection to handle(conn, port). The process ends
when its standard input closes (the test ends) or after 60 seconds, whichever comes first, so no
server outlives its test.
"""
import os
import socket
import sys
import threading


def serve_forever(handle):
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    port = srv.getsockname()[1]
    print(port, flush=True)

    def stop_when_parent_goes():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=stop_when_parent_goes, daemon=True).start()
    threading.Timer(60, lambda: os._exit(0)).start()
    while True:
        conn, _ = srv.accept()
        handle(conn, port)
