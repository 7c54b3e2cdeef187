#!/bin/sh
# Checks every #include "folder/..." of the sources under src/ against the
# table of docs/layers.md, so that the document is the rule the build keeps
# (every library exports the whole of src/, so the compiler does not).
#   scripts/check-layers.sh [ROOT]   (ROOT holds docs/layers.md and src/; by default this tree)
# Prints each offending include as FILE:LINE: #include "...": why, and exits 1.
#
# The table's rows read:
#   | `folder` | may use | must not be reached from |
# "may use" names folders in backquotes ("any of the above" is every folder
# of the rows above); the other names in it are libraries and are not
# checked here. In "must not be reached from", backquoted names with a "/"
# are paths under src/ (a folder ends in "/", "*" stands for any part of a
# name): after "anything but" they are the only files outside the folder
# that may include it (besides the folders that name it in "may use");
# otherwise they are files that must not include it.
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
table=$root/docs/layers.md
[ -r "$table" ] || { echo "$table: not readable" >&2; exit 2; }
[ -d "$root/src" ] || { echo "$root/src: no such folder" >&2; exit 2; }

cd "$root"
sources=$(mktemp)
trap 'rm -f "$sources"' EXIT
find src -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort >"$sources"

awk -v table="docs/layers.md" -v list="$sources" '
# The backquoted names of a cell, into names[1..n]; returns n.
function quoted(cell, names,    n) {
    n = 0
    while (match(cell, /`[^`]*`/)) {
        names[++n] = substr(cell, RSTART + 1, RLENGTH - 2)
        cell = substr(cell, RSTART + RLENGTH)
    }
    return n
}
# Whether a path under src/ is one the table names: a folder ("app/"), a
# pattern ("app/cli_*.cpp") or a file.
function names_path(name, path,    re) {
    if (name ~ /\/$/) return index(path, name) == 1
    if (index(name, "*")) {
        re = name
        gsub(/\./, "\\.", re)
        gsub(/\*/, "[^/]*", re)
        return path ~ ("^" re "$")
    }
    return path == name
}
function named_by_reach(folder, path,    i) {
    for (i = 1; i <= nreach[folder]; i++)
        if (names_path(reach[folder, i], path)) return 1
    return 0
}
function offend(why) {
    printf "%s:%d: #include \"%s\": %s\n", FILENAME, FNR, target, why
    bad++
}

FILENAME == table && /^\|[ \t]*`[^`]*`[ \t]*\|/ {
    split($0, cell, "|")
    quoted(cell[2], head)
    folder = head[1]
    order[++nfolders] = folder
    known[folder] = 1
    if (cell[3] ~ /any of the above/) {
        for (i = 1; i < nfolders; i++) uses[folder, order[i]] = 1
    } else {
        n = quoted(cell[3], used)
        for (i = 1; i <= n; i++) { uses[folder, used[i]] = 1; named_use[folder, used[i]] = 1 }
    }
    only[folder] = cell[4] ~ /^[ \t]*anything but/
    n = quoted(cell[4], names)
    for (i = 1; i <= n; i++)
        if (index(names[i], "/")) reach[folder, ++nreach[folder]] = names[i]
    next
}
FILENAME == table { next }

FILENAME == list { source[++nsources] = substr($0, 5); next }

FNR == 1 {
    path = substr(FILENAME, 5) # past "src/"
    here = index(path, "/") ? substr(path, 1, index(path, "/") - 1) : ""
}
/^[ \t]*#[ \t]*include[ \t]*"[^"]*\// {
    target = $0
    sub(/^[^"]*"/, "", target)
    sub(/".*/, "", target)
    there = substr(target, 1, index(target, "/") - 1)
    if (there == here) next
    if (!(here in known)) { offend("src/" here "/ has no row in the table of " table); next }
    if (!(there in known)) { offend(there "/ has no row in the table of " table); next }
    if (!((here, there) in uses)) { offend(here "/ may not use " there "/"); next }
    if (only[there]) {
        if (!((here, there) in named_use) && !named_by_reach(there, path))
            offend(there "/ must not be reached from " path)
    } else if (named_by_reach(there, path)) {
        offend(there "/ must not be reached from " path)
    }
}

END {
    if (nfolders == 0) { print table ": no table of folders" > "/dev/stderr"; exit 2 }
    # A name in the table that names nothing would keep nothing.
    for (key in reach) {
        split(key, part, SUBSEP)
        name = reach[key]
        found = 0
        for (i = 1; i <= nsources && !found; i++) found = names_path(name, source[i])
        if (!found) { printf "%s: `%s` (row `%s`) names no file under src/\n", table, name, part[1]; bad++ }
    }
    if (bad) { printf "%d includes or names break the layers of %s\n", bad, table; exit 1 }
    printf "%d files under src/ keep the layers of %s\n", nsources, table
}
' docs/layers.md "$sources" $(cat "$sources")
