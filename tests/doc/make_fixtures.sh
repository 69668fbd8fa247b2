#!/usr/bin/env bash
# Writes the Word 97 fixtures under data/ with a real word processor: each document is
# written here as flat OpenDocument text and converted by LibreOffice ("MS Word 97" filter).
# Run once by hand (needs soffice); the .doc files are committed, so the tests never need it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/data"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

. "$(dirname "$0")/fodt.sh"

fodt text "Quarterly Harvest Report" \
'<text:h text:outline-level="1">Orchard summary</text:h>
<text:p>The apple harvest grew by twelve percent this season.</text:p>
<text:p>Caf&#xE9; owners in M&#xFC;nster paid 5&#x20AC; per crate, a na&#xEF;ve price.</text:p>
<text:p/>
<text:p>Pears stayed level.</text:p>'

fodt tables "" \
'<text:p>Before the table.</text:p>
<table:table table:name="T1"><table:table-column table:number-columns-repeated="3"/>
<table:table-row><table:table-cell><text:p>alpha</text:p></table:table-cell><table:table-cell><text:p>beta</text:p></table:table-cell><table:table-cell><text:p>gamma</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell><text:p>delta</text:p></table:table-cell><table:table-cell><text:p>epsilon</text:p></table:table-cell><table:table-cell><text:p>zeta</text:p></table:table-cell></table:table-row>
</table:table>
<text:p>After the table.</text:p>'

fodt notes "" \
'<text:p>Main text with a note<text:note text:id="n1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>Footnote remark here.</text:p></text:note-body></text:note> in the middle.</text:p>
<text:p>See <text:a xlink:type="simple" xlink:href="http://example.org/harvest">the harvest site</text:a> now.</text:p>' \
'<style:header><text:p>Running header words</text:p></style:header><style:footer><text:p>Footer line words page <text:page-number text:select-page="current">1</text:page-number></text:p></style:footer>'

fodt cyrillic "&#x41E;&#x442;&#x447;&#x451;&#x442;" \
'<text:p>&#x41F;&#x440;&#x438;&#x432;&#x435;&#x442; &#x43C;&#x438;&#x440; &#x438; &#x437;&#x434;&#x440;&#x430;&#x432;&#x441;&#x442;&#x432;&#x443;&#x439;&#x442;&#x435;</text:p>
<text:p>&#x39A;&#x3B1;&#x3BB;&#x3B7;&#x3BC;&#x3AD;&#x3C1;&#x3B1; &#x3BA;&#x3CC;&#x3C3;&#x3BC;&#x3B5;</text:p>
<text:p>&#x6771;&#x4EAC; music &#x1D11E; clef &#x20000;&#x20001;</text:p>'

# A longer document of mixed formatting: headings, bold and italic runs, a list, a page break
# and a second section, so that a reader kept between documents meets varied library state.
fodt handbook "Orchard handbook" \
'<text:h text:outline-level="1">Pruning</text:h>
<text:p>Prune <text:span text:style-name="T1">apple</text:span> and <text:span text:style-name="T2">pear</text:span> trees in late winter, before the buds swell.</text:p>
<text:list><text:list-item><text:p>Remove dead wood first.</text:p></text:list-item><text:list-item><text:p>Then crossing branches.</text:p></text:list-item><text:list-item><text:p>Keep the centre open.</text:p></text:list-item></text:list>
<text:p text:style-name="P1">Harvest runs from August to October.</text:p>
<text:h text:outline-level="2">Storage</text:h>
<text:p>Store the fruit cool and dark; check it weekly for rot.</text:p>' \
'' '<style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
<style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>
<style:style style:name="P1" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>'

fodt emptyparas "" '<text:p/><text:p/><text:p/>'

fodt empty "" ''

fodt_to_doc "$out"
ls -l "$out"/*.doc
