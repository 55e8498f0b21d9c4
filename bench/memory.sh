#!/usr/bin/env bash
# Memory and size check, too slow for CI: runs kerfline on
#   - a 2 GiB input without a single newline,
#   - a form whose marker is a 1 MiB line,
#   - forms with lines of 33 MiB, just past a doubling of the block that
#     holds a line: a marker and a name; the same with a flag line as long;
#     a name whose open fails,
#   - a form of 1,000,000 records,
#   - an input larger than 4 GiB with a marker near its end,
# and prints each run's maximum resident set size. It fails when a run goes
# above 16 MiB plus the form's longest marker line and longest name, or
# ends with another status than it should, or when the run past 4 GiB cuts
# the wrong bytes.
#
# Usage: bench/memory.sh [path/to/kerfline]   (default: build/release/kerfline,
# built first when missing). Needs GNU time (/usr/bin/time) and about 7 GiB
# of sparse files' worth of free space in $TMPDIR, of which almost nothing is
# ever written.
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${1:-build/release/kerfline}
if [ $# -eq 0 ] && [ ! -x "$tool" ]; then
  cmake --preset release >/dev/null && cmake --build --preset release --target kerfline >/dev/null
fi
tool=$(realpath "$tool")
[ -x /usr/bin/time ] || { echo "bench/memory.sh needs GNU time (apt-get install time)"; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

mib=$((1024 * 1024))
failed=0

# The bound: 16 MiB plus the longest marker line and the longest name of
# FORM (awk counts bytes in the C locale).
bound() {
  echo $((16 * mib + $(LC_ALL=C awk 'NR % 3 == 1 && length($0) > m { m = length($0) }
                                     NR % 3 == 2 && length($0) > n { n = length($0) }
                                     END { print m + n + 0 }' "$1")))
}

# Runs kerfline FORM INPUT with the report and the reason thrown away;
# checks the status is STATUS (default 0) and the peak memory at most LIMIT
# bytes.
measure() {
  local label=$1 limit=$2 form=$3 input=$4 expected=${5:-0}
  local status=0
  /usr/bin/time -f '%M' -o rss "$tool" "$form" "$input" >/dev/null 2>reason || status=$?
  local kib
  kib=$(tail -n 1 rss)
  local verdict=ok
  if [ "$status" -ne "$expected" ]; then verdict="FAILED (status $status)"; failed=1
  elif [ $((kib * 1024)) -gt "$limit" ]; then verdict="FAILED (above the limit)"; failed=1
  fi
  printf '%-44s max RSS %6d KiB  limit %6d KiB  %s\n' "$label" "$kib" $((limit / 1024)) "$verdict"
}

# 1. A 2 GiB input with no newline: a sparse file of NUL bytes.
truncate -s 2G no-newline
printf 'never\n/dev/null\n1\n' >to-null.form
measure "2 GiB input without a newline" $((16 * mib)) to-null.form no-newline

# 2. A form whose marker is a 1 MiB line, over an input where it matches
#    after 64 MiB of ordinary lines.
head -c $mib /dev/zero | tr '\0' 'm' >long-marker
{ cat long-marker; printf '\n/dev/null\n1\nnever\n/dev/null\n1\n'; } >long-marker.form
{ awk 'BEGIN { for (i = 0; i < 1600000; i++) print "an ordinary line of text, not the marker" }'
  cat long-marker
  printf '\nthe rest\n'; } >long-marker.input
measure "form with a 1 MiB marker line" "$(bound long-marker.form)" long-marker.form long-marker.input

# 2b. Lines of 33 MiB: past 32 MiB the block holding a line doubles to 64.
head -c $((33 * mib)) /dev/zero | tr '\0' 'm' >long-line
{ cat long-line; printf '\n'; cat long-line; printf '\n0\n'; } >skipped.form
{ cat long-line; printf '\n'; cat long-line; printf '\n0'; cat long-line; printf '\n'; } >long-flag.form
{ printf 'M\n'; cat long-line; printf '\n1\n'; } >long-name.form
printf 'text\nM\nrest\n' >short.input
measure "33 MiB marker and name, flag 0" "$(bound skipped.form)" skipped.form short.input
measure "the same with a 33 MiB flag line" "$(bound long-flag.form)" long-flag.form short.input
measure "a 33 MiB name that cannot be opened" "$(bound long-name.form)" long-name.form short.input 1

# 3. A form of 1,000,000 records over an input holding every tenth marker.
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "marker %d\n/dev/null\n%d\n", i, i % 3 }' >million.form
awk 'BEGIN { for (i = 0; i < 1000000; i += 10) printf "text\nmarker %d\n", i }' >million.input
measure "form of 1,000,000 records" "$(bound million.form)" million.form million.input

# 4. An input of 5 GiB: a sparse stretch of NUL bytes, then a marker and a
#    last line that must land in its own output.
truncate -s 5G huge
printf '\nEND\nafter\n' >>huge
printf 'END\n/dev/null\n1\nnever\nafter.txt\n1\n' >huge.form
measure "5 GiB input, marker past 4 GiB" $((16 * mib)) huge.form huge
if [ "$(cat after.txt 2>/dev/null)" != after ]; then
  echo "the section after the 4 GiB mark is wrong: $(head -c 80 after.txt 2>/dev/null | od -c | head -2)"
  failed=1
fi

exit "$failed"
