#!/usr/bin/env python3
"""Reads xmllint --xpath attribute output on stdin; prints each value resolved with urljoin."""
import html
import re
import sys
from urllib.parse import urljoin

base = sys.argv[1]
text = sys.stdin.read()
for m in re.finditer(r'\s(?:href|src)="([^"]*)"', text):
    print(urljoin(base, html.unescape(m.group(1))))
