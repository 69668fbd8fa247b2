#!/usr/bin/env python3
"""A small NNTP server (RFC 3977 reader commands) for the news fetcher tests, on 127.0.0.1 at a
port the system chooses. The first line written to standard output is the port; the server ends
when its standard input closes or after 60 seconds. With a file name argument, every command
received is appended to that file."""
import os
import sys
import threading

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import script_listener  # noqa: E402

ARTICLES = {
    "comp.lang.x": {
        3: (b"From: Ann <ann@example.org>\r\n"
            b"Newsgroups: comp.lang.x\r\n"
            b"Subject: First\r\n"
            b"Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            b"Message-ID: <3@example.org>\r\n",
            b"Plain body.\r\n"),
        7: (b"From: Bob <bob@example.org>\r\n"
            b"Newsgroups: comp.lang.x\r\n"
            b"Subject: No date here\r\n"
            b"Message-ID: <7@example.org>\r\n",
            b"Seven.\r\n"),
        123: (b"From: Caf\xe9 <cafe@example.org>\r\n"
              b"Newsgroups: comp.lang.x\r\n"
              b"Subject: Numbers\r\n"
              b"Date: Tue, 3 Jun 2008 11:05:30 +0200 (CEST)\r\n"
              b"Message-ID: <123@example.org>\r\n",
              b"Line one.\r\n.A line that starts with a dot\r\n..two dots\r\n\r\nLast line.\r\n"),
    },
    "empty.group": {},
    "huge.group": {},
}


def dot_stuff(data):
    out = []
    for line in data.split(b"\r\n")[:-1]:
        out.append(b"." + line if line.startswith(b".") else line)
    return b"\r\n".join(out) + b"\r\n.\r\n"


def serve(conn, log):
    f = conn.makefile("rwb", buffering=0)
    f.write(b"201 test server ready (no posting)\r\n")
    group = None
    while True:
        line = f.readline()
        if not line:
            return
        cmd = line.decode("latin-1").rstrip("\r\n")
        if log:
            with open(log, "a") as lf:
                lf.write(cmd + "\n")
        words = cmd.split()
        verb = words[0].upper() if words else ""
        arg = words[1] if len(words) > 1 else None
        if verb == "QUIT":
            f.write(b"205 bye\r\n")
            return
        if verb == "CAPABILITIES":
            f.write(b"101 Capability list:\r\nVERSION 2\r\nREADER\r\nOVER\r\n.\r\n")
        elif verb == "MODE":
            f.write(b"201 reader mode, no posting\r\n")
        elif verb == "GROUP" and arg == "silent.group":
            threading.Event().wait(30)  # no answer; the client's time-out must end the wait
            return
        elif verb in ("GROUP", "LISTGROUP") and arg == "huge.group":
            # Claims two thousand million articles and will not list them.
            group = arg
            if verb == "GROUP":
                f.write(b"211 2000000000 1 2000000000 huge.group\r\n")
            else:
                f.write(b"503 listing not possible\r\n")
        elif verb in ("GROUP", "LISTGROUP"):
            if arg not in ARTICLES:
                f.write(b"411 no such group\r\n")
                continue
            group = arg
            nums = sorted(ARTICLES[group])
            first, last = (nums[0], nums[-1]) if nums else (1, 0)
            f.write(b"211 %d %d %d %s\r\n" % (len(nums), first, last, group.encode()))
            if verb == "LISTGROUP":
                f.write(b"".join(b"%d\r\n" % n for n in nums) + b".\r\n")
        elif verb in ("XOVER", "OVER"):
            f.write(b"224 overview follows\r\n")
            for n, (head, body) in sorted(ARTICLES.get(group, {}).items()):
                f.write(b"%d\tsubject\tfrom\t\t<%d@example.org>\t\t%d\t1\r\n"
                        % (n, n, len(head) + len(body)))
            f.write(b".\r\n")
        elif verb in ("HEAD", "BODY", "ARTICLE", "STAT"):
            try:
                n = int(arg)
                head, body = ARTICLES[group][n]
            except (TypeError, ValueError, KeyError):
                f.write(b"423 no such article\r\n")
                continue
            if verb == "HEAD":
                f.write(b"221 %d <%d@example.org>\r\n" % (n, n) + dot_stuff(head))
            elif verb == "BODY":
                f.write(b"222 %d <%d@example.org>\r\n" % (n, n) + dot_stuff(body))
            elif verb == "ARTICLE":
                f.write(b"220 %d <%d@example.org>\r\n" % (n, n) + dot_stuff(head + b"\r\n" + body))
            else:
                f.write(b"223 %d <%d@example.org>\r\n" % (n, n))
        else:
            f.write(b"500 unknown command\r\n")


def main():
    log = sys.argv[1] if len(sys.argv) > 1 else None
    script_listener.serve_forever(
        lambda conn, _port: threading.Thread(target=serve, args=(conn, log), daemon=True).start())


if __name__ == "__main__":
    main()
