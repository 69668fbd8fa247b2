#!/usr/bin/env python3
"""Gopher servers for the fetcher tests, on 127.0.0.1 at a port the system chooses.

  gopher_server.py scripted          answers the selectors below
  gopher_server.py gophernicus ROOT  hands each connection to the real gophernicus (inetd style)

The first line written to standard output is the port. The server ends when its standard input
closes (the test ends) or after 60 seconds, whichever comes first.
"""
import os
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import script_listener  # noqa: E402

MENU = (
    "iWelcome <to> the test & server\tfake\t(NULL)\t0\r\n"
    "1Sub menu\t/sub dir\t127.0.0.1\t70\r\n"
    "0Read me\t/readme.txt\t127.0.0.1\t0\r\n"
    "9Binary\t/bin\texample.org\t7070\r\n"
    "8Telnet\tguest\tbbs.example.org\t23\r\n"
    "hWeb\tURL:http://example.org/\texample.org\t70\r\n"
    "3Oops\terror.host\t1\r\n"
    ".\r\n"
    "1After the end\t/never\t127.0.0.1\t70\r\n"
)

BINARY = b"\x00\x01line\n.\n\r\nmore\x00\xff" * 3


def answer(selector):
    if selector == "":
        return MENU.encode()
    if selector == "/readme.txt":
        return b"first line\r\nsecond line\r\n.\r\nnot part of the text\r\n"
    if selector == "/bin":
        return BINARY
    if selector.startswith("/echo"):
        return b"selector=[" + selector.encode("latin-1") + b"]\r\n.\r\n"
    if selector == "/big":
        return b"".join(b"%05d %s\n" % (i, b"x" * 60) for i in range(2000))
    if selector == "/early":
        return b"cut off in the mid"
    if selector == "/longline":
        return b"y" * 3000 + b"\n.\n"
    return b"3No such selector\terror.host\t1\r\n.\r\n"


def scripted(conn):
    with conn:
        data = b""
        while not data.endswith(b"\r\n"):
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
        selector = data[:-2].decode("latin-1")
        if selector == "/slow":
            time.sleep(30)  # says nothing; the fetcher's time-out must end the wait
            return
        conn.sendall(answer(selector))


def main():
    mode = sys.argv[1]

    def handle(conn, port):
        if mode == "scripted":
            threading.Thread(target=scripted, args=(conn,), daemon=True).start()
        else:
            root = sys.argv[2]
            subprocess.Popen(
                ["/usr/sbin/gophernicus", "-h", "127.0.0.1", "-p", str(port), "-r", root,
                 "-nf", "-nh", "-nd", "-ns", "-nv", "-nm", "-nr", "-nu", "-nx", "-na", "-nt"],
                stdin=conn, stdout=conn, stderr=subprocess.DEVNULL)
            conn.close()

    script_listener.serve_forever(handle)


if __name__ == "__main__":
    main()
