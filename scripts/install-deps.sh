#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the run script use.
# Only what is missing is installed; safe to run again.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git python3 clang libclang-rt-14-dev
  # libraries
  libexpat1-dev libsqlite3-dev zlib1g-dev libssl-dev libcurl4-openssl-dev libwxgtk3.2-dev libxapian-dev
  libc-client2007e-dev
  libwv-dev libgsf-1-dev
  # libwv's link line names -ljpeg (through libwmf); its -dev package does not bring it
  libjpeg-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev valgrind
  # counterparts and data the tests and generators use
  tzdata sqlite3 unicode-data libxml2-utils html2text lynx socat curl wget
  debian-reference-en
  nginx
  qpdf ghostscript poppler-utils groff fonts-urw-base35
  gophernicus
  python3-pyftpdlib
  libsoap-lite-perl
  pandoc unrtf
  xapian-tools
  # omindex, the crawl benchmark's peer
  xapian-omega
  catdoc
  openssl perl procps
  # the control panel under a virtual display, driven and photographed
  xvfb xauth xdotool imagemagick
  # a real browser for the security and end-to-end tests (headless); SOAP clients built from
  # the WSDL
  chromium python3-zeep python3-requests libwww-perl nodejs
  # Word files of many shapes written at test time, read by our Word reader and by libwv
  libreoffice-writer-nogui
)

# The peers and file makers of the benchmarks (bench/), not needed by the build or the tests:
# installed with --bench. word_bench: antiword (LibreOffice, which writes its Word files, is above).
if [ "${1:-}" = "--bench" ]; then
  PACKAGES+=(antiword)
fi

missing=()
# npm comes with Debian's nodejs as a package of its own, or within another nodejs build.
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
