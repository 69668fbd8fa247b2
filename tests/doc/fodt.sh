# Sourced by the scripts that write Word files with LibreOffice: each document is written as
# flat OpenDocument text into the folder $work, then all of them are converted at once.

# fodt NAME TITLE BODY [MASTER [STYLES]]: $work/NAME.fodt; an empty TITLE leaves the title out.
# Master pages: "Standard" (A4 upright, with MASTER's header and footer) and "Wide" (landscape).
fodt() {
  local name=$1 title=$2 body=$3 master=${4:-} styles=${5:-}
  cat > "$work/$name.fodt" <<DOC
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:meta>${title:+<dc:title>$title</dc:title>}</office:meta>
 <office:automatic-styles>
  <style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm"/></style:page-layout>
  <style:page-layout style:name="pm2"><style:page-layout-properties fo:page-width="29.7cm" fo:page-height="21cm" style:print-orientation="landscape"/></style:page-layout>
  $styles
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Standard" style:page-layout-name="pm1">$master</style:master-page>
  <style:master-page style:name="Wide" style:page-layout-name="pm2"/>
 </office:master-styles>
 <office:body><office:text>$body</office:text></office:body>
</office:document>
DOC
}

# fodt_to_doc OUT: every document of $work as Word 97 ("MS Word 97" filter) into OUT.
fodt_to_doc() {
  (cd "$work" && soffice --headless -env:UserInstallation=file://"$work"/profile \
    --convert-to 'doc:MS Word 97' --outdir "$1" ./*.fodt </dev/null >/dev/null 2>&1)
}
