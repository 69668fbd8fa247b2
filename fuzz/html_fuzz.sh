#!/usr/bin/env bash
# Builds the HTML fuzz target with clang (AddressSanitizer, UBSan, libFuzzer) and runs it for
# a bounded time over the nasty-input corpus. Usage: fuzz/html_fuzz.sh [seconds] [build dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTRAWLNEST_FUZZ=ON >/dev/null
ninja -C "$build" html_fuzz
corpus="$build/html_fuzz_corpus"
mkdir -p "$corpus"
cp -n "$root"/tests/parsers/data/nasty/* "$corpus"/ 2>/dev/null || true
for f in /usr/share/debian-reference/apa.en.html /usr/share/debian-reference/pr01.en.html; do
  [ -f "$f" ] && cp -n "$f" "$corpus"/ || true
done
"$build/fuzz/html_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -dict="$root/fuzz/html_fuzz.dict" "$corpus"
