#!/usr/bin/env python3
"""A stand-in worker program written from the message tables alone: it connects back to the
port it is given, decodes each request and answers as FAKE_MILLHAND_MODE says.

echo   answers with a reply whose fields spell out every field of the request
wrong  answers PROCESS with REPROCESSED and REPROCESS with PROCESSED
badid  answers with the reply id 7
cut    sends the start of a reply, then closes the connection
hang   reads the request and never answers
stall  sends the start of a reply and never the rest
"""
import os
import socket
import struct
import sys
import time


class Reader:
    def __init__(self, sock):
        self.sock = sock

    def take(self, n):
        data = b""
        while len(data) < n:
            part = self.sock.recv(n - len(data))
            if not part:
                raise EOFError
            data += part
        return data

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def s(self):
        return self.take(self.u32())

    def ids(self):
        return [self.u32() for _ in range(self.u32())]

    def plugins(self):
        out = []
        for _ in range(self.u32()):
            out.append((self.u32(), self.u32(), self.u16(), self.s(), self.s(), self.s(), self.s()))
        return out

    def docfilters(self):
        out = []
        for _ in range(self.u32()):
            out.append((self.u32(), self.u32(), self.u16(), self.s(), self.s(), self.u32(), self.s()))
        return out


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def s(b):
    if isinstance(b, str):
        b = b.encode()
    return u32(len(b)) + b


def join(parts):
    return b"|".join(p if isinstance(p, bytes) else str(p).encode() for p in parts)


def summary(records):
    return b";".join(join(r) for r in records)


def status(code, message, mime, charset, redirect):
    return (u16(code) + s(message) + s(mime) + s(charset) + u32(1234567890) + s(redirect) +
            s("side=1") + u32(0xDEADBEEF) + u32(0x01020304))


def processed(req):
    base, fields, ids, plugins, docfilters = req
    body = status(13, join(fields), b",".join(str(i).encode() for i in ids), summary(plugins),
                  summary(docfilters))
    links = [(b"http://a.example/1", 5), (b"", 0), (b"http://b.example/2", 0xFFFFFFFF)]
    body += s(b"\x00fff\xff") + u32(base + 1) + u32(len(links))
    for url, score in links:
        body += s(url) + u32(score)
    body += s("HTTP/1.1 200 OK\r\n\r\n") + s(bytes(range(256)))
    return u16(1) + body


def reprocessed(req):
    base, fields, ids, plugins, docfilters = req
    body = status(4, join(fields), b",".join(str(i).encode() for i in ids), summary(plugins),
                  summary(docfilters))
    return u16(2) + body + s(b"") + u32(base + 2)


def read_request(r):
    rid = r.u16()
    if rid == 1:
        base = r.u32()
        fields = [r.s(), r.s(), r.s(), r.u8(), r.s(), r.s(), r.s(), r.u8()]
        ids, plugins, docfilters = r.ids(), r.plugins(), r.docfilters()
        fields += [r.s(), r.s()]
        return rid, (base, fields, ids, plugins, docfilters)
    if rid == 2:
        base = r.u32()
        fields = [r.s() for _ in range(6)]
        ids, plugins, docfilters = r.ids(), r.plugins(), r.docfilters()
        fields += [r.s(), r.s()]
        return rid, (base, fields, ids, plugins, docfilters)
    return rid, None


def main():
    mode = os.environ.get("FAKE_MILLHAND_MODE", "echo")
    sock = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
    r = Reader(sock)
    while True:
        try:
            rid, req = read_request(r)
        except EOFError:
            return 0
        if mode == "hang":
            time.sleep(120)
            return 0
        if rid == 0:
            sock.sendall(u16(0))
            return 0
        if mode == "badid":
            answer = u16(7)
        elif mode == "wrong":
            answer = reprocessed(req) if rid == 1 else processed(req)
        else:
            answer = processed(req) if rid == 1 else reprocessed(req)
        if mode == "stall":
            sock.sendall(answer[:9])
            time.sleep(120)
            return 0
        if mode == "cut":
            sock.sendall(answer[:9])
            sock.close()
            return 0
        sock.sendall(answer)


if __name__ == "__main__":
    sys.exit(main())
