#!/usr/bin/python3
"""Crawl speed against omindex, side by side in one run (not run by ctest).

Generates a site of PAGES HTML pages spread over HOSTS web hosts (one nginx server per
loopback address 127.0.0.1, 127.0.0.2, ..., all on one port: the fetch queue's politeness is
per host name, so hosts that differ only by port would be crawled one page at a time; pages
link across hosts), then crawls it with the installed trawlnestd and
its real millhand and siftvault once per WORKERS value (Throttling 0, a fresh DATADIR each
time), and runs omindex over the same files in the same run. Prints pages/s of each run and
the ratios: every WORKERS value against one worker, and the crawl against omindex.

The crawl does fetch, parse, store and index; omindex reads, parses and indexes from disk.

Needs: nginx, and omindex from the Debian package xapian-omega
(apt-get install --no-install-recommends xapian-omega), and an installed tree:
  cmake --install build --prefix build/bench-prefix

usage: crawl_bench.py PREFIX [--pages N] [--hosts N] [--workers 1,4,8] [--scratch DIR]
                      [--rounds N]
"""

import argparse
import functools
import os
import random
import re
import shutil
import sqlite3
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import tnlive  # noqa: E402
from tnlive import i, text  # noqa: E402


def host_address(h):
    return "127.0.0.%d" % (h + 1)


def make_site(root, pages, hosts, port):
    """pages HTML files over hosts folders h0..h{hosts-1}; page k lives on host k % hosts and
    links to the next page and to four others, so the whole set is reachable from any seed."""
    rnd = random.Random(19)
    vocabulary = ["%s%d" % (w, n) for n in range(400) for w in
                  ("orchard", "hive", "cider", "meadow", "plough")]

    def url(k):
        return "http://%s:%d/p%d.html" % (host_address(k % hosts), port, k)

    for h in range(hosts):
        os.makedirs(os.path.join(root, "h%d" % h))
    for k in range(pages):
        links = {(k + 1) % pages} | {rnd.randrange(pages) for _ in range(4)}
        words = " ".join(rnd.choice(vocabulary) for _ in range(400))
        body = "".join('<p><a href="%s">page %d</a></p>\n' % (url(j), j) for j in sorted(links))
        with open(os.path.join(root, "h%d" % (k % hosts), "p%d.html" % k), "w") as f:
            f.write("<html><head><title>Page %d</title></head><body>\n<h1>Page %d</h1>\n"
                    "<p>%s</p>\n%s</body></html>\n" % (k, k, words, body))


def start_nginx(root, work, hosts, port):
    servers = "".join("  server { listen %s:%d; root %s/h%d; }\n" % (host_address(h), port, root, h)
                      for h in range(hosts))
    http = "  access_log off;\n  types { text/html html; }\n  keepalive_requests 100000;\n"
    return tnlive.start_nginx(work, port, http + servers, connections=1024)


def daemon_peak_kib(d):
    """The daemon's peak resident size (VmHWM) in KiB, 0 when it cannot be read."""
    try:
        with open("/proc/%d/status" % d.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def add_seeds_in_store(d, count):
    """Appends count seeds to the only source record, written straight into the stopped
    daemon's configuration store: a million seeds do not fit in one request under the HTTP
    body limit (16 MiB), and no operation adds seeds to a source a part at a time."""
    db = sqlite3.connect(os.path.join(d.data, "trawlnest.db"))
    try:
        (rid, cfg), = db.execute("SELECT id, cfg FROM cfgstorage WHERE key = 'SourceConfiguration'")
        at = cfg.index("<seed ")
        at = cfg.index("\n", at) + 1
        indent = cfg[cfg.rindex("\n", 0, at - 1) + 1:cfg.index("<seed ")]
        extra = "".join('%s<seed url="http://seed.invalid/s%d"/>\n' % (indent, k)
                        for k in range(count))
        db.execute("UPDATE cfgstorage SET cfg = ? WHERE key = 'SourceConfiguration' AND id = ?",
                   (cfg[:at] + extra + cfg[at:], rid))
        db.commit()
    finally:
        db.close()


def tree_cpu(pid):
    """CPU seconds (user + system) of a process and of every process below it, summed by
    command name: where a crawl's CPU goes (the daemon, siftvault, the millhand workers)."""
    stats = tnlive.processes()
    wanted, found = {pid}, True
    while found:
        found = False
        for p, (ppid, _, _) in stats.items():
            if ppid in wanted and p not in wanted:
                wanted.add(p)
                found = True
    cpu = {}
    for p in wanted:
        if p in stats:
            _, name, seconds = stats[p]
            cpu[name] = cpu.get(name, 0.0) + seconds
    return cpu


# Over this many extra seeds the source is written into the store (see add_seeds_in_store).
SOAP_SEEDS_MAX = 150000


def crawl(prefix, scratch, workers, port, pages, extra="", extra_seeds=0):
    """(documents, seconds, peak KiB, pages/s of the real pages, CPU seconds of the daemon's
    process tree during the crawl by command name) of one crawl from the first
    host's first page. The extra seeds name a host outside the include filter: each is taken
    from the queue and refused by the filter without a fetch, so they cost what reading the
    source costs. The fetch queue takes the archive's hosts in turn, so the real pages are
    crawled beside the seeds: their rate is measured from the second stored document to the
    last (the crawl goes on until every seed is passed)."""
    root = os.path.join(scratch, "daemon-w%d" % workers)
    shutil.rmtree(root, ignore_errors=True)
    d = tnlive.Daemon(prefix, root, extra="WORKERS=%d\nLOGCFG=LOG:ERROR\n%s" % (workers, extra))
    # A 100,000-seed record takes longer to send and store than the default 30 s.
    d.http = functools.partial(tnlive.Daemon.http, d, timeout=900)
    in_store = extra_seeds > SOAP_SEEDS_MAX
    d.start()
    try:
        arcid = tnlive.add_index(
            d, "bench",
            ["http://127.0.0.1:%d/p0.html" % port] +
            ["http://seed.invalid/s%d" % k for k in range(0 if in_store else extra_seeds)],
            [r"^http://127\.0\.0\.[0-9]+:%d/.*$" % port])
        if in_store:
            d.stop(grace=300)
            add_seeds_in_store(d, extra_seeds)
            d.start(timeout=300)
        start = time.time()
        cpu_before = tree_cpu(d.proc.pid)
        d.soap("StartCrawl", i("arcid", arcid))
        deadline = start + max(600, pages + extra_seeds / 100)
        second = last = None
        while time.time() < deadline:
            info = d.soap("GetArchiveInfo", i("id", arcid)).find("info")
            now, stored = time.time(), int(text(info, "Documents"))
            if second is None and stored >= 2:
                second = (now, stored)
            if last is None or stored != last[1]:
                last = (now, stored)
            if text(info, "Crawling") == "false":
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("the crawl did not end in time")
        end = time.time()
        cpu = {name: spent - cpu_before.get(name, 0.0)
               for name, spent in tree_cpu(d.proc.pid).items()}
        seconds = end - start
        docs = int(text(info, "Documents"))
        real = ((last[1] - second[1]) / (last[0] - second[0])
                if second and last[0] > second[0] else 0.0)
        return docs, seconds, daemon_peak_kib(d), real, cpu
    finally:
        d.stop(grace=300)


def omindex(site, scratch):
    db = os.path.join(scratch, "omega-db")
    shutil.rmtree(db, ignore_errors=True)
    start = time.time()
    subprocess.run(["omindex", "--db", db, "--url", "/", site], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.time() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("prefix")
    ap.add_argument("--pages", type=int, default=2000)
    ap.add_argument("--hosts", type=int, default=16)
    ap.add_argument("--workers", default="1,4,8")
    ap.add_argument("--scratch", default=None)
    ap.add_argument("--extra-seeds", type=int, default=0,
                    help="seeds outside the include filter added to the source")
    ap.add_argument("--config", action="append", default=[],
                    help="a KEY=VALUE line added to the daemon's configuration")
    ap.add_argument("--rounds", type=int, default=1,
                    help="runs of omindex and every WORKERS value, in turn; the ratios are "
                         "then those of the medians (one run moves with the machine's load)")
    a = ap.parse_args()
    scratch = os.path.abspath(a.scratch or os.path.join(a.prefix, "..", "crawl-bench"))
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(os.path.join(scratch, "nginx"))
    port = tnlive.free_port()
    site = os.path.join(scratch, "site")
    make_site(site, a.pages, a.hosts, port)
    nginx = start_nginx(site, os.path.join(scratch, "nginx"), a.hosts, port)
    try:
        om_rates, rates, steady = [], {}, {}
        for _ in range(max(1, a.rounds)):
            seconds = omindex(site, scratch)
            om_rate = a.pages / seconds
            om_rates.append(om_rate)
            print("omindex            %6d pages %7.2f s %8.1f pages/s" % (a.pages, seconds, om_rate),
                  flush=True)
            for w in (int(x) for x in a.workers.split(",")):
                docs, seconds, peak, real, cpu = crawl(os.path.abspath(a.prefix), scratch, w, port,
                                                       a.pages,
                                                       "".join(line + "\n" for line in a.config),
                                                       a.extra_seeds)
                rate = docs / seconds
                rates.setdefault(w, []).append(rate)
                steady.setdefault(w, []).append(real)
                print("crawl WORKERS=%-3d  %6d pages %7.2f s %8.1f pages/s   x%.2f of omindex"
                      "   daemon peak %d MiB" % (w, docs, seconds, rate, rate / om_rate,
                                                 peak // 1024), flush=True)
                if docs:
                    print("  CPU ms/page: " + ", ".join(
                        "%s %.2f" % (name, cpu[name] * 1000 / docs)
                        for name in sorted(cpu, key=cpu.get, reverse=True) if cpu[name] > 0) +
                        "; all %.2f" % (sum(cpu.values()) * 1000 / docs), flush=True)
                if not a.extra_seeds:
                    # Without the start (workers, first fetch) and the end (the crawl's last
                    # idle pass): the pages stored from the second to the last.
                    print("  stored from the second page to the last: %.1f pages/s" % real,
                          flush=True)
                if a.extra_seeds:
                    print("  with %d extra seeds: %.0f URLs/s through the loop, real pages after"
                          " the first %.1f pages/s" % (a.extra_seeds,
                                                       (docs + a.extra_seeds) / seconds, real),
                          flush=True)
                if docs < a.pages:
                    print("  (only %d of %d pages stored)" % (docs, a.pages))
        median = statistics.median
        if len(om_rates) > 1:
            print("medians of %d rounds: omindex %.1f pages/s, " % (len(om_rates), median(om_rates)) +
                  ", ".join("WORKERS=%d %.1f (x%.2f of omindex)" % (w, median(r), median(r) /
                                                                   median(om_rates))
                            for w, r in sorted(rates.items())), flush=True)
        base = min(rates)
        for w in sorted(rates):
            if w != base:
                s_base = median(steady[base])
                print("WORKERS=%d / WORKERS=%d: x%.2f (second page to last: x%.2f)"
                      % (w, base, median(rates[w]) / median(rates[base]),
                         median(steady[w]) / s_base if s_base else 0.0))
    finally:
        nginx.terminate()
        nginx.wait(10)


if __name__ == "__main__":
    main()
