#!/usr/bin/python3
"""Bulk loading through REST AddDocument with WORKERS 1 and 8, side by side in one run (not run
by ctest).

Posts DOCS generated HTML pages to POST /index/{archive}/doc?url=... of the installed trawlnestd
(its real millhand and siftvault; Throttling 0, a fresh DATADIR per run) from CLIENTS client
threads. Each posted document is stored and queued as a "guid:" URL, which has no network
host; the workers parse and index it from the store. Prints, per WORKERS value, documents/s
from the first post to the end of the crawl that parses them, how long the posts alone took,
the CPU seconds of trawlnestd, siftvault and each millhand over the run (a worker that never
got a document stays near 0), then the ratio of the largest WORKERS value to the smallest.

Needs an installed tree: cmake --install build --prefix build/bench-prefix

usage: rest_bulk_bench.py PREFIX [--docs N] [--workers 1,8] [--clients N] [--scratch DIR]
"""

import argparse
import os
import random
import shutil
import sys
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import tnlive  # noqa: E402
from tnlive import i, text  # noqa: E402


def make_pages(count):
    rnd = random.Random(19)
    vocabulary = ["%s%d" % (w, n) for n in range(400) for w in
                  ("orchard", "hive", "cider", "meadow", "plough")]
    return [("<html><head><title>Page %d</title></head><body>\n<h1>Page %d</h1>\n<p>%s</p>\n"
             "</body></html>\n" % (k, k, " ".join(rnd.choice(vocabulary) for _ in range(400))))
            .encode() for k in range(count)]


def ticks(pid):
    """utime + stime of a process in clock ticks, 0 once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except (OSError, IndexError, ValueError):
        return 0


def children(daemon_pid, program):
    """The pids of the daemon's children running program."""
    return sorted(pid for pid, (ppid, name, _) in tnlive.processes().items()
                  if ppid == daemon_pid and name == program)


def run(prefix, scratch, workers, pages, clients):
    """(documents/s, seconds of the posts, CPU seconds of each millhand, documents stored,
    seconds of the run, CPU seconds of trawlnestd and of siftvault)."""
    root = os.path.join(scratch, "daemon-w%d" % workers)
    shutil.rmtree(root, ignore_errors=True)
    d = tnlive.Daemon(prefix, root, extra="WORKERS=%d\nLOGCFG=LOG:ERROR\n" % workers)
    d.start()
    try:
        arcid = tnlive.add_index(d, "bulk", [], ["^http://bulk.example/.*$"])
        hands = children(d.proc.pid, "millhand")
        others = [d.proc.pid] + children(d.proc.pid, "siftvault")
        before = {p: ticks(p) for p in hands + others}
        failures = []
        next_page = iter(range(len(pages)))
        lock = threading.Lock()

        def poster():
            while True:
                with lock:
                    k = next(next_page, None)
                if k is None:
                    return
                url = urllib.parse.quote("http://bulk.example/p%d.html" % k, safe="")
                status, _, body = d.http("/index/%d/doc?url=%s" % (arcid, url), auth=True,
                                         data=pages[k],
                                         headers={"Content-Type": "text/html; charset=UTF-8"})
                if status != 200:
                    with lock:
                        failures.append((k, status, body[:200]))

        start = time.time()
        threads = [threading.Thread(target=poster) for _ in range(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        posted = time.time() - start
        if failures:
            raise RuntimeError("%d posts failed, first: %r" % (len(failures), failures[0]))
        deadline = time.time() + max(600, len(pages))
        while time.time() < deadline:
            info = d.soap("GetArchiveInfo", i("id", arcid)).find("info")
            if text(info, "Crawling") == "false":
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("the crawl did not end in time")
        seconds = time.time() - start
        hz = os.sysconf("SC_CLK_TCK")
        cpu = [(ticks(p) - before[p]) / hz for p in hands]
        daemon, index = [(ticks(p) - before[p]) / hz for p in others[:2]]
        return (len(pages) / seconds, posted, cpu, int(text(info, "Documents")), seconds,
                daemon, index)
    finally:
        d.stop(grace=300)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("prefix")
    ap.add_argument("--docs", type=int, default=2000)
    ap.add_argument("--workers", default="1,8")
    ap.add_argument("--clients", type=int, default=8, help="client threads posting")
    ap.add_argument("--scratch", default=None)
    a = ap.parse_args()
    scratch = os.path.abspath(a.scratch or os.path.join(a.prefix, "..", "rest-bulk-bench"))
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    pages = make_pages(a.docs)
    rates = {}
    for w in (int(x) for x in a.workers.split(",")):
        rate, posted, cpu, docs, seconds, daemon, index = run(
            os.path.abspath(a.prefix), scratch, w, pages, a.clients)
        rates[w] = rate
        print("REST bulk WORKERS=%-3d %6d documents %8.1f documents/s   posts alone %.2f s"
              "   stored %d" % (w, a.docs, rate, posted, docs), flush=True)
        print("  %.2f s; CPU seconds: trawlnestd %.2f, siftvault %.2f, each millhand %s"
              % (seconds, daemon, index, " ".join("%.2f" % c for c in cpu)), flush=True)
    base = min(rates)
    for w in sorted(rates):
        if w != base:
            print("WORKERS=%d / WORKERS=%d: x%.2f" % (w, base, rates[w] / rates[base]))


if __name__ == "__main__":
    main()
