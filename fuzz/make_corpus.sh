#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets from the project's script files.
#
#   fuzz/make_corpus.sh OUTDIR
#
# OUTDIR/scriptfile and OUTDIR/run get every tests/scripts/**/*.ztscr and examples/*.ztscr file
# as it is; OUTDIR/parser gets the body of every function of those files, read as the engine
# reads them (comments cut, leading blanks dropped, lines joined, parameter list removed).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:?usage: make_corpus.sh OUTDIR}"
mkdir -p "$out/scriptfile" "$out/run" "$out/parser"

mapfile -t files < <(cd "$root" && find tests/scripts examples -name '*.ztscr' -type f | sort)
for f in "${files[@]}"; do
  seed="${f//\//_}"
  cp "$root/$f" "$out/scriptfile/$seed"
  cp "$root/$f" "$out/run/$seed"
  awk -v dir="$out/parser" -v seed="$seed" '
    BEGIN { RS = "[\r\n]+"; n = 0; open = 0 }
    function flush(   t, i, c, inq, esc, body, depth) {
      if (!open) return
      t = text
      sub(/^[ \t]+/, "", t); sub(/[ \t]+$/, "", t)
      i = index(t, "(")
      if (i == 0) return
      inq = 0; esc = 0
      for (i = i + 1; i <= length(t); i++) {
        c = substr(t, i, 1)
        if (inq && c == "\\") { esc = 1; continue }
        if (c == "\"" && !esc) inq = !inq
        esc = 0
        if (c == ")" && !inq) break
      }
      body = substr(t, i + 1)
      if (body != "") { n++; printf "%s", body > (dir "/" seed "." n); close(dir "/" seed "." n) }
    }
    {
      line = $0
      sub(/^[ \t]+/, "", line)
      c = index(line, "//")
      if (c > 0) line = substr(line, 1, c - 1)
      if (tolower(substr(line, 1, 7)) == "scrdef ") { flush(); open = 1; text = substr(line, 8) }
      else if (open) text = text line
    }
    END { flush() }
  ' "$root/$f"
done
echo "corpus: $(ls "$out/scriptfile" | wc -l) script files, $(ls "$out/parser" | wc -l) function bodies in $out"
