#!/usr/bin/env python3
"""Writes tests/uri/data/urljoin_python.tsv: (base, reference, urllib.parse.urljoin result).

Python's urljoin is the independent counterpart against which the URL resolution is tested.
Usage: gen_urljoin_cases.py [OUTPUT]
"""
import os
import sys
from urllib.parse import urljoin

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "uri", "data",
    "urljoin_python.tsv")

BASES = [
    "http://h/a/b/c?q",
    "http://a/b/c/d;p?q",
    "http://host:8080/dir/sub/",
    "https://h/",
    "http://h",
    "http://h/a/b/c?q#f",
    "https://example.org/x/y/z.html",
    "ftp://h/pub/dir/file",
    "file:///srv/docs/a.txt",
]

REFS = [
    "g", "./g", "g/", "/g", "//g", "?y", "g?y", "#s", "g#s", "g?y#s", ";x", "g;x", "g;x?y#s",
    "", ".", "./", "..", "../", "../g", "../..", "../../", "../../g", "../../../g",
    "../../../../g", "/./g", "/../g", "g.", ".g", "g..", "..g", "./../g", "./g/.", "g/./h",
    "g/../h", "g;x=1/./y", "g;x=1/../y", "g?y/./x", "g?y/../x", "g#s/./x", "g#s/../x",
    "http:g", "HTTP://X/y", "https://x/y", "mailto:u@h", "javascript:void(0)", "ftp://g/x",
    "//g/x", "//g:81/x/../y", "a b", "%7e", "?", "#", "g//h", "x:y", "/a/b/../../../c",
    "g/h/i/../../j", "index.html?a=1&b=2", "./a:b", "/", "//", "?a#b", "..#f",
]


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w", encoding="utf-8") as f:
        f.write("# base\treference\turllib.parse.urljoin (Python %s)\n" % sys.version.split()[0])
        for base in BASES:
            for ref in REFS:
                f.write("%s\t%s\t%s\n" % (base, ref, urljoin(base, ref)))
    print("wrote %s: %d pairs" % (OUT, len(BASES) * len(REFS)))


if __name__ == "__main__":
    main()
