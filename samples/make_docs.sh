#!/usr/bin/env bash
# Writes the default document set of scripts/run.sh under docs/ with real tools: pandoc
# (HTML, RTF), groff (PDF), Python's email package (mail), iconv (a Latin-1 page). The Word
# file is one of the LibreOffice fixtures of tests/doc. Run once by hand; the files are
# committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/docs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

cat > "$work/orchard.md" <<'MD'
---
title: Orchard handbook
---
# Orchard handbook

The orchard keeps **apple**, pear and quince trees. Pruning starts in late winter, before the
buds swell; harvest runs from August to October.

See also the [harvest report](harvest.pdf), the [irrigation plan](irrigation.rtf), the
[cider notes](cider.txt) and the [Latin-1 page](beekeeping.html).
MD
pandoc -s --metadata pagetitle="Orchard handbook" -o "$out/orchard.html" "$work/orchard.md"

cat > "$work/irrigation.md" <<'MD'
# Irrigation plan

Drip lines water the young trees twice a week from May to September; the old trees need
water only in dry spells. The pump is serviced every spring.
MD
pandoc -s -o "$out/irrigation.rtf" "$work/irrigation.md"

cat > "$work/harvest.ms" <<'MS'
.TL
Harvest report
.PP
The apple harvest reached forty tonnes this season; the pears ripened two weeks early.
Quinces went to the jam kitchen.
MS
groff -ms -Tpdf "$work/harvest.ms" > "$out/harvest.pdf"

cat > "$out/cider.txt" <<'TXT'
Cider notes

Press the apples within two days of picking. Ferment the juice cool, at about twelve degrees,
and rack it off the lees after three weeks.
TXT

cat > "$work/beekeeping.html" <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=ISO-8859-1">
<title>Bienenhaltung im Obstgarten</title></head>
<body><h1>Bienenhaltung</h1>
<p>Die Bienenstöcke stehen am Südrand des Gartens; die Blüte der Äpfel bringt den ersten Honig.</p>
</body></html>
HTML
iconv -f UTF-8 -t ISO-8859-1 "$work/beekeeping.html" > "$out/beekeeping.html"

python3 - "$out/swarm.eml" <<'PY'
import sys
from email.message import EmailMessage
from email.utils import formatdate
m = EmailMessage()
m["From"] = "Beekeeper <bees@orchard.example>"
m["To"] = "Orchard team <team@orchard.example>"
m["Subject"] = "Swarm in the quince tree"
m["Date"] = formatdate(1700000000, usegmt=True)
m.set_content("A swarm settled in the old quince tree this morning.\nI hived it at noon.\n")
open(sys.argv[1], "wb").write(bytes(m))
PY

cp "$here/../tests/doc/data/text.doc" "$out/report.doc"
