#!/usr/bin/env bash
# Holds every #include of the source folders to the layering: a file may include its own folder
# and the folders below it, never one above. engine/ and pool/ include no JACK header, so they
# build and test without it, and no production file includes tests/. Every header in the source
# folders is checked; the unit tests beside them (*_test.cc) are test code, which may reach the top
# to reset the whole looper, and their fixtures live in tests/fixtures.
# Usage: check_includes.sh SOURCE_DIR LAYER... (bottom to top)
set -euo pipefail
root=$1
shift
cd "$root"
files=()
for layer in "$@"; do
  for file in "$layer"/*.h "$layer"/*.cc; do
    [ -e "$file" ] || continue
    case ${file##*/} in *_test.cc) continue ;; esac
    files+=("$file")
  done
done

# grep prints FILE:#include ...; awk ranks both ends of each arrow.
grep -HE '^[[:space:]]*#[[:space:]]*include' "${files[@]}" | awk -v order="$*" '
  BEGIN { n = split(order, layers, " "); for (i = 1; i <= n; i++) rank[layers[i]] = i }
  {
    file = substr($0, 1, index($0, ":") - 1)
    from = substr(file, 1, index(file, "/") - 1)
    if (!match($0, /[<"][^>"]*[>"]/)) next
    header = substr($0, RSTART + 1, RLENGTH - 2)
    to = (index(header, "/") > 0) ? substr(header, 1, index(header, "/") - 1) : ""
    if (substr($0, RSTART, 1) == "\"" && (to in rank) && rank[to] > rank[from]) {
      printf "%s -> %s: %s/ may not include %s/ (above it)\n", file, header, from, to
      faults++
    }
    if (to == "tests") {
      printf "%s -> %s: production code may not include tests/\n", file, header
      faults++
    }
    if ((from == "engine" || from == "pool") && to == "jack") {
      printf "%s -> %s: %s/ must build without JACK\n", file, header, from
      faults++
    }
  }
  END {
    if (faults > 0) { printf "%d include(s) against the layering (%s)\n", faults, order; exit 1 }
    printf "includes follow the layering: %s\n", order
  }'
