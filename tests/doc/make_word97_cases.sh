#!/usr/bin/env bash
# Writes Word 97 files of many shapes into the folder of its one argument, with LibreOffice
# ("MS Word 97" filter): nested tables, notes, headers and footers, comments, text boxes, fields,
# sections, a picture, lists, non-Latin text, a very long paragraph. Each is written here as
# flat OpenDocument text first. Needs soffice; takes some ten seconds.
set -euo pipefail
out=${1:?usage: make_word97_cases.sh FOLDER}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

. "$(dirname "$0")/fodt.sh"

cell() { printf '<table:table-cell><text:p>%s</text:p></table:table-cell>' "$1"; }

inner="<table:table table:name=\"Inner\"><table:table-column table:number-columns-repeated=\"2\"/><table:table-row>$(cell in-a)$(cell in-b)</table:table-row><table:table-row>$(cell in-c)$(cell in-d)</table:table-row></table:table>"
fodt nested_tables nested_tables \
"<text:p>Before.</text:p>
<table:table table:name=\"Outer\"><table:table-column table:number-columns-repeated=\"3\"/>
<table:table-row>$(cell one)<table:table-cell><text:p>holds</text:p>$inner<text:p>after inner</text:p></table:table-cell>$(cell three)</table:table-row>
<table:table-row>$(cell four)$(cell '')<table:table-cell><text:p>six</text:p><text:p>second paragraph</text:p></table:table-cell></table:table-row>
</table:table>
<table:table table:name=\"Next\"><table:table-column/><table:table-row>$(cell alone)</table:table-row></table:table>
<text:p>After.</text:p>"

fodt notes notes \
'<text:p>Body with a footnote<text:note text:id="n1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>First footnote.</text:p><text:p>Its second paragraph.</text:p></text:note-body></text:note> and an endnote<text:note text:id="n2" text:note-class="endnote"><text:note-citation>i</text:note-citation><text:note-body><text:p>The endnote text.</text:p></text:note-body></text:note>.</text:p>
<text:p>Another<text:note text:id="n3" text:note-class="footnote"><text:note-citation>2</text:note-citation><text:note-body><text:p>Second footnote.</text:p></text:note-body></text:note> one.</text:p>'

fodt headers headers \
'<text:p>Page one text.</text:p><text:p text:style-name="PB">Page two text.</text:p>' \
'<style:header><text:p>Header of <text:title>t</text:title> page <text:page-number text:select-page="current">1</text:page-number> of <text:page-count>2</text:page-count></text:p></style:header><style:footer><text:p>Footer words</text:p><text:p>Second footer line</text:p></style:footer>' \
'<style:style style:name="PB" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>'

fodt comments comments \
'<text:p>Commented <office:annotation><dc:creator>Reviewer</dc:creator><text:p>A remark on this.</text:p></office:annotation>word and more text.</text:p>
<text:p>Second <office:annotation office:name="a2"><text:p>Ranged remark.</text:p></office:annotation>ranged span<office:annotation-end office:name="a2"/> end.</text:p>'

fodt textbox textbox \
'<text:p>Anchor paragraph <draw:frame draw:name="Box" text:anchor-type="paragraph" svg:width="6cm" svg:height="3cm" svg:x="1cm" svg:y="1cm"><draw:text-box><text:p>Inside the box.</text:p><text:p>Box line two.</text:p></draw:text-box></draw:frame> continues.</text:p>
<text:p>Following paragraph.</text:p>'

fodt fields fields \
'<text:table-of-content text:name="TOC"><text:table-of-content-source text:outline-level="3"/><text:index-body><text:index-title><text:p>Contents</text:p></text:index-title></text:index-body></text:table-of-content>
<text:h text:outline-level="1">First heading</text:h>
<text:p>A <text:a xlink:type="simple" xlink:href="http://example.org/a">link text</text:a>, page <text:page-number text:select-page="current">1</text:page-number>, date <text:date>2020-01-01</text:date>, <text:bookmark text:name="mark"/>a bookmark and a <text:bookmark-ref text:reference-format="page" text:ref-name="mark">1</text:bookmark-ref> reference.</text:p>
<text:h text:outline-level="2">Second heading</text:h>
<text:p>Author <text:author-name>someone</text:author-name> and words.</text:p>'

fodt sections sections \
'<text:p>First section text.</text:p>
<text:section text:name="S1" text:style-name="Sect1"><text:p>Two columns here.</text:p><text:p>More column text.</text:p></text:section>
<text:p text:style-name="Land">Landscape page.</text:p>
<text:p text:style-name="Back">Back to portrait.</text:p>' '' \
'<style:style style:name="Sect1" style:family="section"><style:section-properties><style:columns fo:column-count="2" fo:column-gap="0.5cm"/></style:section-properties></style:style>
<style:style style:name="Land" style:family="paragraph" style:master-page-name="Wide"/>
<style:style style:name="Back" style:family="paragraph" style:master-page-name="Standard"/>'

png='iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFklEQVQI12P4z8DAwMDAxMDAwMDAAAANHQEDasKb6QAAAABJRU5ErkJggg=='
fodt picture picture \
"<text:p>Picture <draw:frame draw:name=\"Img\" text:anchor-type=\"as-char\" svg:width=\"1cm\" svg:height=\"1cm\"><draw:image><office:binary-data>$png</office:binary-data></draw:image></draw:frame> inline, and one floating:</text:p>
<text:p><draw:frame draw:name=\"Img2\" text:anchor-type=\"paragraph\" svg:width=\"2cm\" svg:height=\"2cm\"><draw:image><office:binary-data>$png</office:binary-data></draw:image></draw:frame>Text beside it.</text:p>"

fodt lists lists \
'<text:list><text:list-item><text:p>Bullet one</text:p><text:list><text:list-item><text:p>Nested a</text:p></text:list-item><text:list-item><text:p>Nested b</text:p></text:list-item></text:list></text:list-item><text:list-item><text:p>Bullet two</text:p></text:list-item></text:list>
<text:list text:style-name="Num"><text:list-item><text:p>Numbered one</text:p></text:list-item><text:list-item><text:p>Numbered two</text:p></text:list-item></text:list>' '' \
'<text:list-style style:name="Num"><text:list-level-style-number text:level="1" style:num-format="1" style:num-suffix="."/></text:list-style>'

fodt scripts scripts \
'<text:p>&#x627;&#x644;&#x639;&#x631;&#x628;&#x64A;&#x629; &#x5E2;&#x5D1;&#x5E8;&#x5D9;&#x5EA; mixed</text:p>
<text:p>&#x4E2D;&#x6587;&#x6587;&#x672C; &#x65E5;&#x672C;&#x8A9E; &#xD55C;&#xAD6D;&#xC5B4;</text:p>
<text:p>&#x939;&#x93F;&#x928;&#x94D;&#x926;&#x940; &#x1F600; &#x10400; caf&#xE9; &#x201C;quotes&#x201D; &#x2014; dash</text:p>'

long=$(for i in $(seq 1 2500); do printf 'word%d ' "$i"; done)
fodt long_paragraph long_paragraph "<text:p>$long</text:p><text:p>Short after.</text:p>"

rows=''
for i in $(seq 1 60); do rows+="<table:table-row>$(cell "r$i a")$(cell "r$i b")</table:table-row>"; done
fodt long_table long_table "<text:p>Rows:</text:p><table:table table:name=\"Big\"><table:table-column table:number-columns-repeated=\"2\"/>$rows</table:table><text:p>End.</text:p>"

fodt empty empty ''

fodt_to_doc "$out"
ls "$out"/*.doc >/dev/null
