#!/usr/bin/env python3
"""Writes COUNT random flat OpenDocument texts (seeded) into FOLDER and converts them to Word 97
with LibreOffice: paragraphs of mixed character formatting (hidden, struck, raised text), tabs,
line breaks, tracked insertions and deletions, notes, fields, bookmarks, merged and nested table
cells, lists, sections, frames. Usage: make_word97_random.py FOLDER COUNT SEED"""
import os
import random
import subprocess
import sys
import tempfile

HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:style style:name="B" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="I" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>
  <style:style style:name="H" style:family="text"><style:text-properties text:display="none"/></style:style>
  <style:style style:name="S" style:family="text"><style:text-properties style:text-line-through-style="solid"/></style:style>
  <style:style style:name="U" style:family="text"><style:text-properties style:text-position="super 58%"/></style:style>
  <style:style style:name="F" style:family="text"><style:text-properties style:font-name="Symbol" fo:font-family="Symbol"/></style:style>
  <style:style style:name="PB" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>
  <style:style style:name="C" style:family="paragraph"><style:paragraph-properties fo:text-align="center" fo:margin-left="2cm"/></style:style>
  <style:style style:name="Cols" style:family="section"><style:section-properties><style:columns fo:column-count="2" fo:column-gap="0.3cm"/></style:section-properties></style:style>
 </office:automatic-styles>
 <office:master-styles><style:master-page style:name="Standard"><style:header><text:p>Head <text:page-number>1</text:page-number></text:p></style:header></style:master-page></office:master-styles>
 <office:body><office:text>
"""
TAIL = "</office:text></office:body></office:document>\n"

WORDS = ("apple pear plum orchard cider harvest tree branch \u00e9t\u00e9 na\u00efve "
         "\u041c\u043e\u0441\u043a\u0432\u0430 \u03b1\u03b2\u03b3 \u6771\u4eac \u2013 \u201cq\u201d "
         "\u20ac5 x&amp;y &lt;tag&gt;").split()


class Doc:
    def __init__(self, rng):
        self.rng = rng
        self.ids = 0
        self.changes = []

    def nid(self):
        self.ids += 1
        return self.ids

    def words(self, n):
        return " ".join(self.rng.choice(WORDS) for _ in range(n))

    def inline(self, depth=0):
        r = self.rng
        parts = []
        for _ in range(r.randint(1, 6)):
            k = r.randint(0, 14)
            if k <= 4:
                parts.append(self.words(r.randint(1, 8)) + " ")
            elif k == 5:
                parts.append('<text:span text:style-name="%s">%s</text:span> '
                             % (r.choice("BIHSUF"), self.words(r.randint(1, 4))))
            elif k == 6:
                parts.append(r.choice(["<text:tab/>", "<text:line-break/>", '<text:s text:c="3"/>',
                                       "<text:soft-page-break/>"]))
            elif k == 7 and depth == 0:
                i = self.nid()
                cls = r.choice(["footnote", "endnote"])
                parts.append('<text:note text:id="n%d" text:note-class="%s"><text:note-citation>'
                             '%d</text:note-citation><text:note-body><text:p>%s</text:p>'
                             '</text:note-body></text:note>' % (i, cls, i, self.words(3)))
            elif k == 8:
                parts.append(r.choice([
                    '<text:page-number text:select-page="current">1</text:page-number>',
                    '<text:date>2021-02-03</text:date>', '<text:author-name>x</text:author-name>',
                    '<text:a xlink:type="simple" xlink:href="http://example.org/%d">%s</text:a>'
                    % (self.nid(), self.words(2))]))
            elif k == 9:
                i = self.nid()
                parts.append('<text:bookmark-start text:name="b%d"/>%s<text:bookmark-end '
                             'text:name="b%d"/>' % (i, self.words(2), i))
            elif k == 10 and depth == 0:
                i = self.nid()
                kind = r.choice(["insertion", "deletion"])
                body = ("<text:p>%s</text:p>" % self.words(2)) if kind == "deletion" else ""
                self.changes.append(
                    '<text:changed-region text:id="c%d"><text:%s><office:change-info>'
                    '<dc:creator>r</dc:creator><dc:date>2020-01-01T00:00:00</dc:date>'
                    '</office:change-info>%s</text:%s></text:changed-region>'
                    % (i, kind, body, kind))
                if kind == "insertion":
                    parts.append('<text:change-start text:change-id="c%d"/>%s<text:change-end '
                                 'text:change-id="c%d"/>' % (i, self.words(2), i))
                else:
                    parts.append('<text:change text:change-id="c%d"/>' % i)
            elif k == 11 and depth == 0:
                parts.append('<office:annotation><dc:creator>r</dc:creator><text:p>%s</text:p>'
                             '</office:annotation>' % self.words(2))
            elif k == 12 and depth == 0:
                parts.append('<draw:frame draw:name="f%d" text:anchor-type="paragraph" '
                             'svg:width="4cm" svg:height="2cm"><draw:text-box><text:p>%s</text:p>'
                             '</draw:text-box></draw:frame>' % (self.nid(), self.words(3)))
            else:
                parts.append(self.words(r.randint(1, 3)) + " ")
        return "".join(parts)

    def para(self, depth=0):
        style = self.rng.choice(["", "", "", ' text:style-name="C"', ' text:style-name="PB"'])
        if depth:
            style = ""
        if self.rng.random() < 0.1:
            return "<text:p%s/>" % style
        if self.rng.random() < 0.1 and not depth:
            return '<text:h text:outline-level="%d">%s</text:h>' % (
                self.rng.randint(1, 3), self.words(3))
        return "<text:p%s>%s</text:p>" % (style, self.inline(depth))

    def table(self, depth):
        r = self.rng
        cols = r.randint(1, 5)
        rows = []
        for _ in range(r.randint(1, 4)):
            cells = []
            c = 0
            while c < cols:
                span = r.randint(1, cols - c) if r.random() < 0.2 else 1
                content = "".join(self.block(depth + 1) for _ in range(r.randint(1, 2)))
                attr = ' table:number-columns-spanned="%d"' % span if span > 1 else ""
                cells.append("<table:table-cell%s>%s</table:table-cell>" % (attr, content))
                cells.extend(["<table:covered-table-cell/>"] * (span - 1))
                c += span
            rows.append("<table:table-row>%s</table:table-row>" % "".join(cells))
        return ('<table:table table:name="T%d"><table:table-column '
                'table:number-columns-repeated="%d"/>%s</table:table>'
                % (self.nid(), cols, "".join(rows)))

    def block(self, depth=0):
        r = self.rng
        k = r.random()
        if depth < 2 and k < 0.15:
            return self.table(depth)
        if depth == 0 and k < 0.25:
            items = "".join("<text:list-item>%s</text:list-item>" % self.para(1)
                            for _ in range(r.randint(1, 4)))
            return "<text:list>%s</text:list>" % items
        if depth == 0 and k < 0.3:
            return ('<text:section text:name="s%d" text:style-name="Cols">%s</text:section>'
                    % (self.nid(), self.para(1)))
        return self.para(depth)

    def document(self):
        body = "".join(self.block() for _ in range(self.rng.randint(3, 25)))
        changes = ""
        if self.changes:
            changes = "<text:tracked-changes>%s</text:tracked-changes>" % "".join(self.changes)
        return HEAD + changes + body + TAIL


def main():
    out, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        names = []
        for i in range(count):
            name = os.path.join(work, "random%03d.fodt" % i)
            with open(name, "w", encoding="utf-8") as f:
                f.write(Doc(random.Random(seed * 1000 + i)).document())
            names.append(name)
        subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + work + "/profile",
                        "--convert-to", "doc:MS Word 97", "--outdir", out] + names,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)


if __name__ == "__main__":
    main()
