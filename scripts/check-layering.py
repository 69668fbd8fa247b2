#!/usr/bin/env python3
"""Checks that the folders under src/ keep the layering of DESIGN.md.

Every folder under src/ builds one library (and maybe programs); its CMakeLists.txt says what it
links. The check reads those link lines and every #include "..." line of src/ and hdr/ and fails
(exit 1, one line per fault) when
  - a library or program links one of a higher layer (the table below);
  - the link graph has a loop;
  - a file includes a header of a library that its own library does not link, directly or
    through others (an include that runs upward or sideways);
  - headers include each other in a loop;
  - a public header under hdr/ includes one of src/.
Targets the table does not name are checked by their links only, and named in a note.

Usage: check-layering.py [source-root]
"""

import os
import re
import sys

# Bottom to top. A target may link and include only targets of its own layer or below; within
# a layer the links decide the order and must not form a loop.
LAYERS = [
    ("platform", ["tn_linuxplatform"]),
    ("foundation", ["tn_util"]),
    ("formats and transport", ["tn_soap", "tn_ipc", "tn_fff"]),
    ("records", ["tn_api"]),
    ("wire forms of the records", ["tn_apiwire"]),
    ("document processing", ["tn_pluginsys", "tn_parserbase", "tn_htmlparser", "tn_pdfparser", "tn_wvadapter",
                             "tn_uwclient", "tn_fetchers", "tn_parsers", "tn_worker", "docmill"]),
    ("worker process", ["tn_millhand", "tn_worker_program", "millhand"]),
    ("storages and index", ["tn_fetchqueue", "tn_docstorage", "tn_logstorage",
                            "tn_robotschecker", "tn_idxstorage", "tn_siftvault", "siftvault"]),
    ("HTTP front end", ["tn_httpfront"]),
    ("daemon core", ["tn_daemoncore"]),
    ("API operations", ["tn_apiops"]),
    ("web services", ["tn_webservices"]),
    ("daemon program", ["trawlnestd"]),
    ("SOAP client", ["tn_soapclient", "trawlnest-cli"]),
    ("control panel", ["tn_cpmodel", "tn_cpdialogs", "tn_controlpanel", "trawlnest"]),
]

RANK = {t: i for i, (_, targets) in enumerate(LAYERS) for t in targets}

ADD_TARGET = re.compile(r"add_(library|executable)\(\s*([\w.-]+)([^)]*)\)", re.S)
LINK = re.compile(r"target_link_libraries\(\s*([\w.-]+)([^)]*)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def strip_comments(text):
    return re.sub(r"#[^\n]*", "", text)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def load_targets(root):
    """Folder of each target, owner of each source file, and the link edges between targets."""
    owner_of_dir = {}    # folder -> its library (files without an explicit program)
    owner_of_file = {}   # path -> program whose add_executable names it
    links = {}           # target -> set of targets
    programs_of_dir = {} # folder -> program built from all its files
    for dirpath, _, files in os.walk(os.path.join(root, "src")):
        if "CMakeLists.txt" not in files:
            continue
        text = strip_comments(read(os.path.join(dirpath, "CMakeLists.txt")))
        for kind, name, rest in ADD_TARGET.findall(text):
            links.setdefault(name, set())
            folder = os.path.normpath(dirpath)
            if kind == "library":
                # An OBJECT library is part of its folder's library (tn_fetchers' news fetcher).
                if "OBJECT" not in rest.split():
                    owner_of_dir[folder] = owner_of_dir.get(folder) or name
            else:
                named = [s for s in rest.split() if s.endswith(".cc")]
                for src in named:
                    owner_of_file[os.path.normpath(os.path.join(dirpath, src))] = name
                if not named:
                    programs_of_dir.setdefault(folder, name)
        for name, rest in LINK.findall(text):
            links.setdefault(name, set())
            for token in rest.split():
                links[name].add(token)
    for folder, name in programs_of_dir.items():
        owner_of_dir.setdefault(folder, name)
    known = set(links)
    for name in links:
        links[name] = {t for t in links[name] if t in known and t != name}
    return owner_of_dir, owner_of_file, links


def find_cycle(graph):
    """One loop of the graph as a list of nodes, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def reachable(links, start):
    seen = set()
    todo = [start]
    while todo:
        node = todo.pop()
        for nxt in links.get(node, ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    os.chdir(root)
    owner_of_dir, owner_of_file, links = load_targets(".")
    faults = []

    unranked = sorted(t for t in links if t not in RANK)
    if unranked:
        print("note: not in the layer table, checked by their links only: " + ", ".join(unranked))

    cycle = find_cycle(links)
    if cycle:
        faults.append("link loop: " + " -> ".join(cycle))
    for target, deps in sorted(links.items()):
        for dep in sorted(deps):
            if target in RANK and dep in RANK and RANK[dep] > RANK[target]:
                faults.append(f"{target} ({LAYERS[RANK[target]][0]}) links {dep} of a higher "
                              f"layer ({LAYERS[RANK[dep]][0]})")

    def owner(path):
        if path in owner_of_file:
            return owner_of_file[path]
        return owner_of_dir.get(os.path.dirname(path))

    sources = []
    for top in ("src", "hdr"):
        for dirpath, _, files in os.walk(top):
            for f in sorted(files):
                if f.endswith((".h", ".cc", ".c")):
                    sources.append(os.path.normpath(os.path.join(dirpath, f)))

    closure = {}
    header_includes = {}
    for path in sources:
        text = read(path)
        for inc in INCLUDE.findall(text):
            for top in ("src", "hdr"):
                target = os.path.normpath(os.path.join(top, inc))
                if os.path.isfile(target):
                    break
            else:
                continue  # a system header or one beside the file
            if path.endswith(".h"):
                header_includes.setdefault(path, set()).add(target)
            if path.startswith("hdr/"):
                if target.startswith("src/"):
                    faults.append(f"{path}: public header includes {target}")
                continue
            if target.startswith("hdr/"):
                continue  # the public plug-in header: C, includes nothing of ours
            mine, theirs = owner(path), owner(target)
            if mine is None:
                faults.append(f"{path}: no library in its folder's CMakeLists.txt")
                continue
            if theirs is None or theirs == mine:
                continue
            if mine not in closure:
                closure[mine] = reachable(links, mine)
            if theirs not in closure[mine]:
                if mine in RANK and theirs in RANK and RANK[theirs] > RANK[mine]:
                    why = "upward include"
                else:
                    why = "include of a library it does not link"
                faults.append(f"{path}: {why}: \"{inc}\" ({mine} -> {theirs})")

    cycle = find_cycle(header_includes)
    if cycle:
        faults.append("include loop: " + " -> ".join(cycle))

    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} layering fault(s)")
        return 1
    print(f"layering ok: {len(links)} targets, {len(sources)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
