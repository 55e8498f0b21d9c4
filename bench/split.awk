# The same split as kerfline, written the obvious way in awk, as a point of
# comparison for bench/run:
#
#   awk -v form=FORM -f bench/split.awk INPUT
#
# Reads the form record by record (marker, name, flag); each section runs up to
# and including the next line equal to its marker, one CR before the LF not
# counting. Flag 1 writes the section, 0 skips it, any other number creates an
# empty file. Lines are printed back with their CR, so CR LF input stays CR LF.
# Unlike kerfline it adds a newline after a last line that has none, and it
# holds each whole line in memory.

function next_record(    m, n, f) {
    if ((getline m < form) > 0 && (getline n < form) > 0 && (getline f < form) > 0) {
        sub(/\r$/, "", m); sub(/\r$/, "", n); sub(/\r$/, "", f)
        marker = m; name = n; flag = f + 0
        if (flag != 1 && flag != 0) { printf "" > name; close(name) }
        return 1
    }
    return 0
}

BEGIN { if (!next_record()) exit }

{
    if (flag == 1) print > name
    line = $0
    sub(/\r$/, "", line)
    if (line == marker) {
        if (flag == 1) close(name)
        if (!next_record()) exit
    }
}
