#!/usr/bin/python3
"""End to end: the installed daemon with its real millhand and siftvault crawls a small site
that nginx serves on 127.0.0.1 (HTML in UTF-8, ISO-8859-1, windows-1251 and KOI8-R, PDF, RTF,
Word, mail, text and a robots.txt), and the documents are then found over SOAP, REST and the
portal; headless Chromium renders the portal's results page (and runs no script of a crawled page); a
re-crawl after a file change stores the new version; a restart of the daemon loses nothing.

usage: e2e_site.py PREFIX SCRATCH SOURCE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tnlive  # noqa: E402
from tnlive import NS, b, i, ints, s, text  # noqa: E402

PREFIX, SCRATCH, SOURCE = (os.path.abspath(a) for a in sys.argv[1:4])
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def make_site(root):
    """The site: the files of tests/e2e/site and of the run script's document set."""
    shutil.copytree(os.path.join(SOURCE, "tests/e2e/site"), root)
    for name in ("harvest.pdf", "irrigation.rtf", "report.doc", "swarm.eml", "cider.txt"):
        shutil.copy(os.path.join(SOURCE, "samples/docs", name), root)


def start_nginx(root, work):
    port = tnlive.free_port()
    http = """  access_log {w}/access.log;
  types {{ text/html html; text/plain txt; application/pdf pdf; text/rtf rtf;
           application/msword doc; message/rfc822 eml; }}
  default_type application/octet-stream;
  server {{ listen 127.0.0.1:{p}; root {r}; }}
""".format(w=work, p=port, r=root)
    return tnlive.start_nginx(work, port, http), port


def wait_crawl(d, arcid, timeout=120):
    deadline = time.time() + timeout
    while time.time() < deadline:
        info = d.soap("GetArchiveInfo", i("id", arcid)).find("info")
        if text(info, "Crawling") == "false":
            return info
        time.sleep(0.5)
    raise RuntimeError("the crawl did not end within %d s" % timeout)


def query(d, words, arcid):
    """(total, [(id, url, title)]) of a SOAP search in one archive."""
    r = d.soap("Query", "<query>%s%s%s%s%s%s%s%s%s%s%s</query>" % (
        ints("Archives", [arcid]), i("FirstDoc", 0), i("LastDoc", 49), i("MinTime", 0),
        i("MaxTime", 0), s("Info", "INFO_CONTEXT"), s("View", "VIEW_PUBLISHED"),
        s("Sort", "SORT_STANDARD"), s("Parser", "NETPARSER"), s("QueryString", words),
        i("MinScore", 0)))
    hits = [(text(h, "ID"), text(h, "Url"), text(h, "Title"))
            for h in r.findall("results/item")]
    return int(text(r, "maxresults")), hits


def crawl_log(d, arcid):
    """{url: error token} of the newest crawl's document log."""
    logs = d.soap("GetAvailableCrawlLogs", i("arcid", arcid)).findall("logs/item")
    newest = max(logs, key=lambda x: int(text(x, "Time")))
    r = d.soap("GetCrawlLog", "%s%s<log>%s%s</log>" % (
        i("arcid", arcid), i("nmax", 1000), i("Time", int(text(newest, "Time"))),
        s("Cookie", "")))
    return {text(row, "Url"): text(row, "Error") for row in r.findall("data/item")}


def chromium_dom(url, profile):
    shutil.rmtree(profile, ignore_errors=True)
    cmd = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
           "--no-first-run", "--disable-background-networking", "--disable-component-update",
           "--disable-sync", "--user-data-dir=" + profile, "--virtual-time-budget=3000",
           "--dump-dom", url]
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return r.stdout.decode("utf-8", "replace")


# Words of each document, each found in that document only.
WORDS = {
    "index.html": "welcome",
    "latin1.html": "Bienenstöcke",
    "cyrillic.html": "яблоня",
    "koi8r.html": "забора",
    "bait.html": "scriptbait",
    "harvest.pdf": "tonnes",
    "irrigation.rtf": "pump",
    "report.doc": "twelve",
    "swarm.eml": "hived",
    "cider.txt": "lees",
}


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(SCRATCH)
    site = os.path.join(SCRATCH, "site")
    make_site(site)
    nginx_work = os.path.join(SCRATCH, "nginx")
    os.makedirs(nginx_work)
    nginx, nport = start_nginx(site, nginx_work)
    check_installed_portal()
    check_install_layout()
    d = tnlive.Daemon(PREFIX, os.path.join(SCRATCH, "daemon"))
    try:
        d.start()
        run(d, nport, site)
    except Exception as e:  # report, then stop everything
        check(False, "unexpected error: %s" % e)
        print(d.log_tail())
    finally:
        code = d.stop()
        check(code == 0, "the daemon stops cleanly (status %s)" % code)
        nginx.terminate()
        nginx.wait(10)
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)


def run(d, nport, site):
    origin = "http://127.0.0.1:%d/" % nport
    # The index, over SOAP: one archive and its source, Historicize so versions are kept.
    arcid = tnlive.add_index(d, "Orchard site", [origin + "index.html"],
                             ["^" + re.escape(origin) + ".*$"], historicize=True)
    # Readable by everyone, so the public portal shows it.
    got = d.soap("GetArchiveConfiguration", i("id", arcid))
    cfg, magic = got.find("cfg"), int(text(got, "magic"))
    cfg.append(ET.fromstring(
        '<ACL xmlns:SOAP-ENC="%s" xmlns:xsi="%s" xsi:type="SOAP-ENC:Array" '
        'SOAP-ENC:arrayType="ns1:AccessSpec[1]" xmlns:ns1="%s"><item>%s%s%s</item></ACL>'
        % (tnlive.ENC, tnlive.XSI, NS, s("Name", "All Users"), s("Access", "READACCESS"),
           b("Deny", False))))
    cfg_text = ET.tostring(cfg, encoding="unicode")
    d.soap("SetArchiveConfiguration", i("id", arcid) + cfg_text + i("magic", magic))

    d.soap("StartCrawl", i("arcid", arcid))
    info = wait_crawl(d, arcid)
    log = crawl_log(d, arcid)
    print("crawl log:", log)
    for name in WORDS:
        check(log.get(origin + name) == "NONE", "%s fetched and stored (log: %s)"
              % (name, log.get(origin + name)))
    check(origin + "hidden/secret.html" not in log or
          log[origin + "hidden/secret.html"] == "BLOCKED", "robots.txt keeps hidden/ out")
    documents = int(text(info, "Documents"))
    check(documents >= len(WORDS), "archive holds %d documents" % documents)

    # SOAP search: each document by its own word; the robots-excluded page nowhere.
    ids = {}
    for name, word in WORDS.items():
        total, hits = query(d, word, arcid)
        urls = [h[1] for h in hits]
        check(origin + name in urls, "SOAP search %r finds %s (got %s)" % (word, name, urls))
        for h in hits:
            if h[1] == origin + name:
                ids[name] = h[0]
    check(query(d, "forbiddenfruit", arcid)[0] == 0, "the robots-excluded page is not indexed")
    titles = {h[1]: h[2] for h in query(d, "яблоня", arcid)[1]}
    check(titles.get(origin + "cyrillic.html") == "Яблони",
          "windows-1251 title read as Unicode (%r)" % titles.get(origin + "cyrillic.html"))

    # REST: the search and a stored document.
    status, _, body = d.http("/index/%d?q=tonnes" % arcid, auth=True)
    check(status == 200 and (origin + "harvest.pdf").encode() in body,
          "REST search finds the PDF (%d)" % status)
    status, _, body = d.http("/index/%d/doc/%s" % (arcid, ids.get("cider.txt", "x")), auth=True,
                             headers={"Accept": "*/*"})
    check(status == 200 and b"rack it off the lees" in body, "REST returns the stored text")

    # Portal: public results page, private pages behind authentication, cached document.
    status, _, body = d.http("/?q=hived&a=%d" % arcid)
    page = body.decode("utf-8", "replace")
    check(status == 200 and "Swarm in the quince tree" in page, "portal results show the mail")
    check('value="hived"' in page and 'value="%d" selected' % arcid in page,
          "the query and the chosen archive stay in the form")
    status, _, body = d.http("/?q=%22%3E%3Cb%3Ebold&c=-1")
    check(status == 200 and b'value="&quot;&gt;&lt;b&gt;bold"' in body,
          "the query text goes back into the form escaped")
    check(d.http("/private/en/?q=hived&a=%d" % arcid)[0] == 401, "private page asks to log in")
    for lang in ("en", "it"):
        status, _, body = d.http("/private/%s/?q=hived&c=-1" % lang, auth=True)
        check(status == 200 and b"Swarm in the quince tree" in body,
              "private search page /private/%s/" % lang)
    status, _, body = d.http("/private/en/?q=hived&a=%d" % arcid, auth=True)
    check(status == 200 and b"Swarm in the quince tree" in body, "private page with login")
    status, _, body = d.http("/private/en/cache?doc=%s" % ids.get("cider.txt", "x"), auth=True)
    check(status == 200 and b"rack it off the lees" in body, "private cached-document page")
    status, headers, _ = d.http("/private/", auth=True, headers={"Accept-Language": "it, en;q=0.5"})
    check(status == 302 and headers.get("Location", "").endswith("/private/it/?c=-1"),
          "private pages choose the browser's language")

    # A watch and its feed.
    wid = int(text(d.soap("AddWatch", '<cfg xsi:type="ns:WatchConfiguration">%s</cfg>' % "".join([
        s("Name", "Bees"), s("Description", ""), s("Query", "hived"), s("Parser", "NETPARSER"),
        i("Freshness", 0), i("Collection", -1)])).find("info"), "Watch"))
    status, headers, body = d.http("/private/en/rss20?t=%d&mintime=0" % wid, auth=True)
    feed = ET.fromstring(body) if status == 200 else None
    check(feed is not None and headers.get("Content-Type", "").startswith("application/rss+xml")
          and origin + "swarm.eml" in [x.findtext("guid") for x in feed.iter("item")],
          "the watch's RSS feed lists the mail")

    # Headless Chromium: the results page renders the hits; no script of a crawled page runs.
    profile = os.path.join(SCRATCH, "chromium")
    dom = chromium_dom(d.base + "/?q=scriptbait&a=%d" % arcid, profile)
    check("Script bait" in dom and "Results 1 - 1 of 1" in dom,
          "Chromium renders the results page with its hit")
    check("OWNED-BY-SCRIPT" not in dom, "no script of the crawled page runs in the results page")

    # Re-crawl after a change: the new text is stored as a new version.
    with open(os.path.join(site, "cider.txt"), "a") as f:
        f.write("Perry is made the same way from pears.\n")
    later = time.time() + 2
    os.utime(os.path.join(site, "cider.txt"), (later, later))
    versions = int(status_rows(d)["Platform: number of documents"])
    d.soap("StartCrawl", i("arcid", arcid))
    wait_crawl(d, arcid)
    log = crawl_log(d, arcid)
    check(int(status_rows(d)["Platform: number of documents"]) == versions + 1,
          "the re-crawl adds one stored version")
    check(log.get(origin + "cider.txt") == "NONE", "the changed file is stored again")
    check(log.get(origin + "irrigation.rtf") == "UNCHANGED", "an unchanged file is not")
    check(origin + "cider.txt" in [h[1] for h in query(d, "perry", arcid)[1]],
          "the new version is searchable")
    before = status_rows(d)

    # A restart loses nothing.
    check(d.stop() == 0, "the daemon stops cleanly for the restart")
    d.start()
    check(status_rows(d) == before, "status after the restart equals status before (%s)" % before)
    for name, word in WORDS.items():
        check(origin + name in [h[1] for h in query(d, word, arcid)[1]],
              "after the restart %r still finds %s" % (word, name))
    status, _, body = d.http("/?q=perry&a=%d" % arcid)
    check(status == 200 and b"Cider notes" in body, "the portal still shows the new version")
    names = [text(x, "Configuration/Name")
             for x in d.soap("EnumWatchConfigurations").findall("infos/item")]
    check(names == ["Bees"], "the watch is kept over the restart (%s)" % names)
    check(len(crawl_log(d, arcid)) >= len(WORDS), "the crawl logs are kept over the restart")


def check_installed_portal():
    """Every template set of the installed portal names files that exist."""
    root = os.path.join(PREFIX, "lib/trawlnest/portal")
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith(".special"):
                continue
            lines = open(os.path.join(folder, name)).read().splitlines()
            if lines[0] not in ("template", "cache"):
                continue
            for line in lines[1:]:
                line = line.split("#")[0].strip()
                if not line:
                    continue
                key, _, value = line.partition(":")
                path = os.path.join(folder, value.strip())
                if key.strip() != "mimetype" and not os.path.isfile(path):
                    check(False, "%s names the missing %s" % (name, path))


def check_install_layout():
    """The installed programs print their usage for --help; the example files name every
    configuration key and environment value that the code reads."""
    for program in ("trawlnestd", "docmill", "trawlnest-cli"):
        r = subprocess.run([os.path.join(PREFIX, "bin", program), "--help"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        check(r.returncode == 0 and r.stdout.startswith(b"usage: ") and not r.stderr,
              "%s --help prints its usage on standard output" % program)
    conf_keys, env_keys = set(), set()
    for folder, _, files in os.walk(os.path.join(SOURCE, "src")):
        for name in files:
            if not name.endswith((".cc", ".h")):
                continue
            code = open(os.path.join(folder, name), errors="replace").read()
            conf_keys |= set(re.findall(r'\bcfg(?:\(\)|_)?\.get\("([A-Za-z_0-9]+)"', code))
            conf_keys |= set(re.findall(r'positive_setting\(cfg, "([A-Z_]+)"', code))
            conf_keys |= set(re.findall(r'\{"([A-Z]+)", "LUCENE_[A-Z]+"\}', code))
            conf_keys |= set(re.findall(r'key = "([A-Z_]+_SEARCH_BASE)"', code))
            env_keys |= set(re.findall(r'get_registry_env\("([A-Z_]+)"\)', code))
    examples = os.path.join(PREFIX, "share/trawlnest/examples")
    for keys, name in ((conf_keys, "trawlnest.conf"), (env_keys, "environment")):
        text_ = open(os.path.join(examples, name)).read()
        missing = sorted(k for k in keys if not re.search(r"^#?%s=" % k, text_, re.M))
        check(len(keys) > 3 and not missing, "the example %s names every key it must (%d; "
              "missing %s)" % (name, len(keys), missing))


def status_rows(d):
    r = d.soap("GetStatus")
    rows = {text(x, "Key"): text(x, "Value") for x in r.findall("extendedstatus/item")}
    return {k: v for k, v in rows.items() if "free disk" not in k}


if __name__ == "__main__":
    main()
