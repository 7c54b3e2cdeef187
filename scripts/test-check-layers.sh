#!/bin/sh
# Tests scripts/check-layers.sh on a small tree of its own: a table of four
# layers in the form of docs/layers.md and a few files that keep it, which
# must pass; then, one case at a time, a file or a table row that breaks it,
# which must fail naming the file and the line.
#   scripts/test-check-layers.sh
set -eu
check=$(cd "$(dirname "$0")" && pwd)/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The tree that keeps its table: "ui" is reached only from top/ui_main.cpp,
# "rep" never from top's cli_*.cpp.
make_tree() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree/docs" "$work/tree/src/low" "$work/tree/src/mid" "$work/tree/src/ui" \
        "$work/tree/src/rep" "$work/tree/src/top"
    cat >"$work/tree/docs/layers.md" <<'EOF'
# The layers

| folder | may use | must not be reached from |
|---|---|---|
| `low` | Qt Core | — |
| `mid` | `low`, Qt Core | — |
| `ui` | `mid`, `low`, Qt Widgets | anything but `top/ui_main.cpp` |
| `rep` | `low` | the command line (`top/cli_*.cpp`) |
| `top` | any of the above | — |
EOF
    printf '#pragma once\n' >"$work/tree/src/low/low.h"
    printf '#include "mid/mid.h"\n\n#include "low/low.h"\n' >"$work/tree/src/mid/mid.cpp"
    printf '#pragma once\n#include "mid/mid.h"\n#include "ui_form.h"\n' >"$work/tree/src/ui/ui.h"
    printf '#pragma once\n#include "low/low.h"\n' >"$work/tree/src/rep/rep.h"
    printf '#include "ui/ui.h"\n#include "rep/rep.h"\n' >"$work/tree/src/top/ui_main.cpp"
    printf '#include "mid/mid.h"\n' >"$work/tree/src/top/cli_main.cpp"
}

# Each case: its name, the file it adds to (under the tree), the lines it
# adds, and the line the check must print.
run_case() {
    name=$1 file=$2 lines=$3 expected=$4
    make_tree
    mkdir -p "$(dirname "$work/tree/$file")"
    printf '%b' "$lines" >>"$work/tree/$file"
    if sh "$check" "$work/tree" >"$work/out" 2>&1; then
        fail "$name: the check passed: $(cat "$work/out")"
    elif ! grep -qxF -- "$expected" "$work/out"; then
        fail "$name: the check failed without the line \"$expected\": $(cat "$work/out")"
    else
        echo "$name: $expected"
    fi
}

make_tree
sh "$check" "$work/tree" >"$work/out" 2>&1 || fail "the tree that keeps its table failed: $(cat "$work/out")"

run_case "a lower layer uses a higher" src/low/wrong.cpp '// Why.\n\n#include "mid/mid.h"\n' \
    'src/low/wrong.cpp:3: #include "mid/mid.h": low/ may not use mid/'
run_case "a header reaches past its layer" src/mid/mid.h '#pragma once\n#include "ui/ui.h"\n' \
    'src/mid/mid.h:2: #include "ui/ui.h": mid/ may not use ui/'
run_case "a file the allowed ones leave out" src/top/tool.cpp '#include "low/low.h"\n# include "ui/ui.h"\n' \
    'src/top/tool.cpp:2: #include "ui/ui.h": ui/ must not be reached from top/tool.cpp'
run_case "a file the table forbids" src/top/cli_main.cpp '#include "rep/rep.h"\n' \
    'src/top/cli_main.cpp:2: #include "rep/rep.h": rep/ must not be reached from top/cli_main.cpp'
run_case "a folder with no row" src/extra/extra.cpp '#include "low/low.h"\n' \
    'src/extra/extra.cpp:1: #include "low/low.h": src/extra/ has no row in the table of docs/layers.md'
run_case "a folder no row names" src/top/more.cpp '#include "gone/gone.h"\n' \
    'src/top/more.cpp:1: #include "gone/gone.h": gone/ has no row in the table of docs/layers.md'
run_case "a row naming no file" docs/layers.md '| `spare` | `low` | anything but `top/gone.cpp` |\n' \
    'docs/layers.md: `top/gone.cpp` (row `spare`) names no file under src/'

if [ $failures -gt 0 ]; then
    echo "layers check test: $failures failures" >&2
    exit 1
fi
echo "layers check test: the tree that keeps its table passes; each break is named"
