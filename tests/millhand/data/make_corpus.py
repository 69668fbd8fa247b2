#!/usr/bin/env python3
"""Writes the seed messages of the worker-message fuzz target into corpus/ (run from here)."""
import struct


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def s(b):
    b = b.encode() if isinstance(b, str) else b
    return u32(len(b)) + b


def records():
    plugins = u32(1) + u32(1) + u32(0xABCDEF01) + u16(1) + s("meta") + s("adds") + s("docmill-test-meta") + s(b"\0p")
    docfilters = u32(2) + u32(5) + u32(7) + u16(1) + s("root") + s("") + u32(1) + s("origin=root")
    docfilters += u32(6) + u32(8) + u16(0) + s("src") + s("d") + u32(0xFFFFFFFF) + s("x=y")
    return u32(2) + u32(5) + u32(6) + plugins + docfilters


def status():
    return (u16(0) + s("") + s("text/html") + s("utf-8") + u32(1700000000) + s("") + s("<metas/>") +
            u32(0x12345678) + u32(0x9ABCDEF0))


seeds = {
    "quit": u16(0),
    "process": u16(1) + u32(1000000) + s("0123abcd") + s("http://intranet.example/") + s("sid=1") + b"\0" +
               s("<source/>") + s("<auth/>") + s("") + b"\1" + records() + s("<!--x-->") + s("<!--/x-->"),
    "reprocess": u16(2) + u32(999999) + s("g") + s("file:///srv/a.html") + s("HTTP/1.1 200 OK\r\n\r\n") +
                 s("<html><title>t</title></html>") + s("text/html") + s("") + records() + s("") + s(""),
    "processed": u16(1) + status() + s(b"\x64\0\0\0\x06\0\0\0") + u32(500000) + u32(2) + s("http://a/") +
                 u32(5) + s("") + u32(0) + s("HTTP/1.1 200 OK\r\n\r\n") + s("<html></html>"),
    "reprocessed": u16(2) + status() + s("") + u32(1000000),
    "negative_length": u16(2) + u32(0) + u32(0x80000000) + s("u"),
}
for name, data in seeds.items():
    with open("corpus/" + name, "wb") as f:
        f.write(data)
