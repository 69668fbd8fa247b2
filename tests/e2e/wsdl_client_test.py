#!/usr/bin/python3
"""One independent SOAP client, started from the daemon's WSDL alone, against the installed
daemon: it creates a source and an archive, crawls a folder, reads GetStatus and the five
Enum*Configurations lists, and searches. The client prints one line per step.

usage: wsdl_client_test.py soaplite|npm-soap|zeep PREFIX SCRATCH SOURCE_DIR [NODE_WORK_DIR]
Exit status 77 (skipped) when the client's runtime is missing.
"""

import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tnlive  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
kind, prefix, scratch, source = sys.argv[1:5]
node_work = sys.argv[5] if len(sys.argv) > 5 else None


def node_modules():
    """The npm soap package, installed from the committed lock file when missing."""
    os.makedirs(node_work, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copy(os.path.join(HERE, "node", name), node_work)
    modules = os.path.join(node_work, "node_modules")
    if not os.path.isdir(os.path.join(modules, "soap")):
        r = subprocess.run(["npm", "ci", "--no-audit", "--no-fund"], cwd=node_work,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if r.returncode != 0:
            sys.exit("npm ci failed:\n" + r.stdout.decode(errors="replace"))
    return modules


def command(d, name, seed, word):
    wsdl_url = d.base + "/wsdl"
    if kind == "soaplite":
        return ["perl", os.path.join(HERE, "clients/soaplite_client.pl"), wsdl_url, d.user,
                d.password, name, seed, word], None
    if kind == "zeep":
        return ["/usr/bin/python3", os.path.join(HERE, "clients/zeep_client.py"), wsdl_url,
                d.user, d.password, name, seed, word], None
    # npm soap reads the description from a file: fetched here with the credentials.
    status, _, body = d.http("/wsdl", auth=True)
    assert status == 200, status
    wsdl_file = os.path.join(scratch, "service.wsdl")
    with open(wsdl_file, "wb") as f:
        f.write(body)
    env = dict(os.environ, NODE_PATH=node_modules())
    return ["node", os.path.join(HERE, "node/client.js"), wsdl_file, d.user, d.password, name,
            seed, word], env


def main():
    needs = {"soaplite": ["perl", "-MSOAP::Lite", "-e", "1"],
             "zeep": ["/usr/bin/python3", "-c", "import zeep"],
             "npm-soap": ["npm", "--version"]}[kind]
    try:
        if subprocess.run(needs, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
            raise OSError
    except OSError:
        print("skipped: %s is not installed" % needs[0])
        sys.exit(77)

    shutil.rmtree(scratch, ignore_errors=True)
    folder = os.path.join(scratch, "docs")
    os.makedirs(folder)
    word = "plumtree" + re.sub(r"\W", "", kind)
    with open(os.path.join(folder, "plums.html"), "w") as f:
        f.write("<html><head><title>Plums</title></head><body><p>The %s blossoms in April."
                "</p></body></html>\n" % word)
    seed = "file://%s/" % folder
    name = "Made by " + kind
    d = tnlive.Daemon(prefix, os.path.join(scratch, "daemon"))
    d.start()
    try:
        cmd, env = command(d, name, seed, word)
        r = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=180)
        out = r.stdout.decode("utf-8", "replace")
    finally:
        code = d.stop()
    print(out)
    expected = [
        r"source 1 AUTH_NONE magic -?\d+",
        r"archive 1 DISABLED magic -?\d+",
        r"crawled documents 1",
        r"status RUNNING rows 4 Platform: number of documents",
        r"enum Source 1 own 1",
        r"enum Archive 1 own 1",
        r"enum Collection 0 own 0",
        r"enum Watch 0 own 0",
        r"enum Index 1 own 1",
        r"search 1 %s" % re.escape(seed + "plums.html"),
    ]
    lines = out.splitlines()
    failed = r.returncode != 0 or code != 0
    for i, pattern in enumerate(expected):
        got = lines[i] if i < len(lines) else "(missing)"
        if not re.fullmatch(pattern, got):
            print("FAIL line %d: %r does not match %r" % (i + 1, got, pattern))
            failed = True
    if failed:
        print("client status %d, daemon status %s" % (r.returncode, code))
        print(d.log_tail())
        sys.exit(1)
    print("ok: %s read everything from the description alone" % kind)


if __name__ == "__main__":
    main()
