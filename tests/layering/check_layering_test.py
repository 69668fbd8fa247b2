#!/usr/bin/env python3
"""The layering check over small made-up trees: it must pass a clean one and name each fault."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "check-layering.py")


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)


def library(name, *links):
    text = f"file(GLOB s *.cc)\nadd_library({name} STATIC ${{s}})\n"
    if links:
        text += f"target_link_libraries({name} PUBLIC {' '.join(links)})\n"
    return text


CLEAN = {
    "src/util/CMakeLists.txt": library("tn_util"),
    "src/util/log.h": "#pragma once\n",
    "src/util/log.cc": '#include "util/log.h"\n#include <string>\n',
    "src/api/CMakeLists.txt": library("tn_api", "tn_util"),
    "src/api/acl.h": '#pragma once\n#include "util/log.h"\n',
    "src/api/acl.cc": '#include "api/acl.h"\n#include "lumbrake/plugin.h"\n',
    "src/cli/CMakeLists.txt": "file(GLOB s *.cc)\nadd_executable(trawlnest-cli ${s})\n"
                              "target_link_libraries(trawlnest-cli PRIVATE tn_api)\n",
    "src/cli/main.cc": '#include "api/acl.h"\n#include "util/log.h"\n',
    "hdr/lumbrake/plugin.h": "#pragma once\n",
}


class CheckLayering(unittest.TestCase):
    def run_check(self, changes):
        with tempfile.TemporaryDirectory() as root:
            files = dict(CLEAN)
            files.update(changes)
            make_tree(root, files)
            done = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
            return done.returncode, done.stdout

    def test_clean_tree_passes(self):
        code, out = self.run_check({})
        self.assertEqual(code, 0, out)
        self.assertIn("layering ok", out)

    def test_faults(self):
        cases = [
            ("upward include",
             {"src/util/log.cc": '#include "api/acl.h"\n'},
             'src/util/log.cc: upward include: "api/acl.h" (tn_util -> tn_api)'),
            ("link to a higher layer",
             {"src/util/CMakeLists.txt": library("tn_util", "tn_api")},
             "tn_util (foundation) links tn_api of a higher layer (records)"),
            ("link loop within unranked targets",
             {"src/a/CMakeLists.txt": library("tn_a", "tn_b"),
              "src/b/CMakeLists.txt": library("tn_b", "tn_a")},
             "link loop: tn_a -> tn_b -> tn_a"),
            ("include of a library not linked",
             {"src/x/CMakeLists.txt": library("tn_x", "tn_util"),
              "src/y/CMakeLists.txt": library("tn_y", "tn_util"),
              "src/y/y.h": "#pragma once\n",
              "src/x/x.cc": '#include "y/y.h"\n'},
             'src/x/x.cc: include of a library it does not link: "y/y.h" (tn_x -> tn_y)'),
            ("header include loop",
             {"src/util/a.h": '#pragma once\n#include "util/b.h"\n',
              "src/util/b.h": '#pragma once\n#include "util/a.h"\n'},
             "include loop: src/util/a.h -> src/util/b.h -> src/util/a.h"),
            ("public header including a private one",
             {"hdr/lumbrake/plugin.h": '#pragma once\n#include "util/log.h"\n'},
             "hdr/lumbrake/plugin.h: public header includes src/util/log.h"),
            ("folder without a library",
             {"src/loose/loose.cc": '#include "util/log.h"\n'},
             "src/loose/loose.cc: no library in its folder's CMakeLists.txt"),
        ]
        for name, changes, fault in cases:
            with self.subTest(name):
                code, out = self.run_check(changes)
                self.assertEqual(code, 1, out)
                self.assertIn(fault, out)


if __name__ == "__main__":
    unittest.main()
