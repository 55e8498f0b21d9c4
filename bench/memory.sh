#!/usr/bin/env bash
# Memory and size check, too slow for CI: runs kerfline on
#   - a 2 GiB input without a single newline,
#   - a form whose marker is a 1 MiB line,
#   - a form whose marker is a 33 MiB line, just past a doubling of the
#     buffer that holds it,
#   - a form of 1,000,000 records,
#   - an input larger than 4 GiB with a marker near its end,
# and prints each run's maximum resident set size. It fails when an input
# run goes above 16 MiB, or a form run above 16 MiB plus twice the form's
# longest line (a form line is read into a buffer that doubles as it
# grows), or when the run past 4 GiB cuts the wrong bytes.
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

# Runs kerfline FORM INPUT with the report thrown away; checks the status
# is 0 and the peak memory is at most LIMIT bytes.
measure() {
  local label=$1 limit=$2 form=$3 input=$4
  local status=0
  /usr/bin/time -f '%M' -o rss "$tool" "$form" "$input" >/dev/null || status=$?
  local kib
  kib=$(tail -n 1 rss)
  local verdict=ok
  if [ "$status" -ne 0 ]; then verdict="FAILED (status $status)"; failed=1
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
measure "form with a 1 MiB marker line" $((16 * mib + 2 * (mib + 1))) long-marker.form long-marker.input

# 2b. A 33 MiB marker line: past 32 MiB the buffer holding it doubles to 64.
head -c $((33 * mib)) /dev/zero | tr '\0' 'm' >past-doubling
{ cat past-doubling; printf '\n/dev/null\n1\n'; } >past-doubling.form
{ printf 'text\n'; cat past-doubling; printf '\nrest\n'; } >past-doubling.input
measure "form with a 33 MiB marker line" $((16 * mib + 2 * (33 * mib + 1))) \
  past-doubling.form past-doubling.input

# 3. A form of 1,000,000 records over an input holding every tenth marker.
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "marker %d\n/dev/null\n%d\n", i, i % 3 }' >million.form
awk 'BEGIN { for (i = 0; i < 1000000; i += 10) printf "text\nmarker %d\n", i }' >million.input
longest=$(awk '{ if (length($0) > n) n = length($0) } END { print n + 1 }' million.form)
measure "form of 1,000,000 records" $((16 * mib + 2 * longest)) million.form million.input

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
