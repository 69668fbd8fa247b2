#!/usr/bin/env bash
# Remakes the committed fixtures of this folder (LibreOffice is not part of the install step:
# apt-get install libreoffice-writer-nogui first). lo_writer.pdf: a Writer document exported
# by LibreOffice, whose subset TrueType fonts give Greek and Cyrillic text only through their
# ToUnicode maps.
set -euo pipefail
cd "$(dirname "$0")"
soffice --headless --infilter="HTML (StarWriter)" --convert-to pdf:writer_pdf_Export \
  --outdir . lo_writer.html
