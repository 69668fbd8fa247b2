#!/usr/bin/env bash
# Writes the Word 97 files of word_bench into the folder of its one argument, with a real word
# processor: the Debian reference chapters (HTML, with tables and lists; 30 KB to 900 KB as
# Word files) and the licence texts of /usr/share/common-licenses (plain text, 10 KB to 90 KB),
# each converted by LibreOffice ("MS Word 97" filter). Needs soffice; takes about half a minute.
set -euo pipefail
out=${1:?usage: make_word_corpus.sh FOLDER}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/in"
cp /usr/share/debian-reference/*.en.html "$work/in/" 2>/dev/null || true
for f in /usr/share/common-licenses/*; do
  [ -f "$f" ] && cp "$f" "$work/in/$(basename "$f").txt"
done
# Options before the files: files named first are opened, not converted, and soffice waits.
convert() {
  soffice --headless -env:UserInstallation=file://"$work"/profile \
    --convert-to 'doc:MS Word 97' --outdir "$out" "$@" </dev/null >/dev/null 2>&1
}
if compgen -G "$work/in/*.txt" >/dev/null; then convert "$work"/in/*.txt; fi
if compgen -G "$work/in/*.html" >/dev/null; then
  convert --infilter="HTML (StarWriter)" "$work"/in/*.html
fi
ls "$out"/*.doc >/dev/null
