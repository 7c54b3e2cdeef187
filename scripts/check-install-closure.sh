#!/usr/bin/env bash
# Checks that scripts/install-deps.sh brings every Debian package that the
# build, the tests and the scripts use. Whatever is used here and owned by a
# package that the install script neither names nor pulls in through the
# Depends and Pre-Depends of what it names is on this machine by chance, and a
# fresh Debian 12 lacks it: the check fails and names that package. Essential
# and required packages, which every Debian system has, are aside.
#
# What is used, besides the project's own files:
#   - in each build folder: the headers the compiler included (Ninja's record
#     of the compiler's dependency files), the CMake files CMake read (the
#     inputs that make build.ninja again), the libraries linked (every link
#     line, and one link per set of flags run again with the linker's trace
#     for what the compiler driver adds), the programs CMake found and the
#     build ran (CMakeCache.txt, AUTOGEN's moc, uic and rcc);
#   - the programs the tests and scripts start, found in the tree, and the few
#     listed below that other programs start.
#
#   scripts/check-install-closure.sh [--install-script FILE] BUILD-DIR...
# BUILD-DIR: a Ninja build folder that has been built. --install-script reads
# the package list of another copy of the install script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
install_script=$root/scripts/install-deps.sh
if [ "${1:-}" = --install-script ]; then
    install_script=$2
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--install-script FILE] BUILD-DIR..." >&2
    exit 2
fi

# Programs that no file of ours starts by name, started by programs we do start.
indirect_programs=(
    Xvfb xauth               # xvfb-run starts the X server with a cookie
    dpkg-shlibdeps objdump   # cpack -G DEB works out Depends with them
    pdftoppm                 # docs/testing.md's command that makes docs/report.png
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Every use, one a line: "path<TAB>how it is used".
uses=$work/uses
: >"$uses"
# A path in use, unless it is the project's own (the tree, a build folder).
echo "$root/" >"$work/own"
use() { # how, then paths on standard input; without how, "path<TAB>how" lines
    awk -F'\t' -v how="${1:-}" '
        FILENAME == ARGV[1] { own[++owned] = $0; next }
        $1 ~ /^\// && !seen[$1]++ {
            for (i = 1; i <= owned; i++) if (index($1, own[i]) == 1) next
            print $1 "\t" (how != "" ? how : $2)
        }' "$work/own" - >>"$uses"
}

# A program's file, as a fresh Debian system finds it on its PATH, into
# $found (empty when there is none).
find_program() {
    local name=$1 folder
    found=
    if [[ $name == /* ]]; then
        if [ -x "$name" ]; then found=$name; fi
        return
    fi
    for folder in /usr/sbin /usr/bin /sbin /bin; do
        if [ -x "$folder/$name" ]; then
            found=$folder/$name
            return
        fi
    done
}

# Shell builtins and keywords are no programs, though some share a name with one.
declare -A not_programs=()
while IFS= read -r word; do not_programs[$word]=1; done < <(compgen -b; compgen -k)

# ---- Build folders

# Headers the compiler included: Ninja keeps what each compiler's dependency
# file listed.
headers_included() { ninja -C "$1" -t deps | awk '/^    \// { print $1 }'; }

# CMake files read at configure: build.ninja is made again when one changes.
cmake_files_read() { ninja -C "$1" -t query build.ninja | awk '$1 == "|" && $2 ~ /^\// { print $2 }'; }

# The link edges of build.ninja: "edge<TAB>output<TAB>flags" for each
# executable or shared library, "lib<TAB>output<TAB>token" for each library on
# its link line.
link_edges() {
    awk '
        function flush() { if (out != "") print "edge\t" out "\t" flags "|" linkflags; out = "" }
        /^build / {
            flush()
            # "build OUTPUT [more outputs] [| implicit outputs]: RULE inputs"
            for (i = 2; i < NF && $i !~ /:$/; i++) continue
            if ($(i + 1) ~ /_(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)_LINKER__/) { out = $2; sub(/:$/, "", out) }
            flags = linkflags = ""
            next
        }
        out == "" { next }
        /^  FLAGS = / { flags = substr($0, 11) }
        /^  LINK_FLAGS = / { linkflags = substr($0, 16) }
        /^  LINK_LIBRARIES = / { for (i = 3; i <= NF; i++) print "lib\t" out "\t" $i }
        END { flush() }
    ' "$1/build.ninja"
}

# A link run again into the scratch folder with the linker's trace: every
# file it opened, the compiler driver's own among them (start files, the C
# and C++ runtimes, the sanitizers' and libFuzzer's).
traced_link() { # dir, output
    local dir=$1 out=$2 command
    command=$(ninja -C "$dir" -t commands -s "$out")
    if [[ $command != *" -o $out "* ]]; then
        fail "cannot find the output of the link of $out in $dir: $command"
        return
    fi
    command=${command/" -o $out "/" -o $work/traced-link -Wl,--trace "}
    if ! (cd "$dir" && bash -c "$command") >"$work/trace" 2>&1; then
        fail "the link of $out in $dir, run again, failed: $(tail -n 5 "$work/trace")"
        return
    fi
    # Lines are paths, "-lname (path)" or "(archive)member".
    sed -nE 's/^-l[^ ]* \((\/.*)\)$/\1/p; s/^\((\/[^)]*)\).*/\1/p; s/^(\/.*)$/\1/p' "$work/trace"
}

libraries_linked() {
    local dir=$1 compiler token key out suffix kind rest
    local -A traced=()
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
    # Only what was linked: a build folder may hold targets it never built
    # (scripts/fuzz.sh builds the fuzzers alone).
    link_edges "$dir" | while IFS=$'\t' read -r kind out rest; do
        if [ -e "$dir/$out" ]; then printf '%s\t%s\t%s\n' "$kind" "$out" "$rest"; fi
    done >"$work/edges"
    while IFS= read -r token; do
        case $token in
            /*) echo "$token" ;;
            -l*) # as the compiler driver finds it: the shared library first
                for suffix in so a; do
                    out=$("$compiler" -print-file-name="lib${token#-l}.$suffix")
                    if [[ $out == /* ]]; then
                        echo "$out"
                        break
                    fi
                done ;;
        esac
    done < <(awk -F'\t' '$1 == "lib" { print $3 }' "$work/edges" | sort -u)
    while IFS=$'\t' read -r out key; do
        [ -n "${traced[$key]:-}" ] && continue
        traced[$key]=1
        traced_link "$dir" "$out"
    done < <(awk -F'\t' '$1 == "edge" { print $2 "\t" $3 }' "$work/edges")
}

# Programs the build ran: the first word of each command Ninja runs (the
# compiler, ar, cmake, help2man...); moc, uic and rcc, which AUTOGEN runs; and
# pkg-config, which configure ran. Not whatever else CMake found on this
# machine (ld.lld, llvm-nm...): the build does not run it. A compiler
# launcher (ccache) is a developer's own choice, not the project's.
programs_run_by_build() {
    local dir=$1
    ninja -C "$dir" -t commands | awk -v launcher="$(sed -n 's/^CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]*=//p' "$dir/CMakeCache.txt")" '
        {
            n = split($0, pieces, / && /)
            for (i = 1; i <= n; i++) {
                count = split(pieces[i], words, " ")
                if (count == 0) continue
                print (words[1] == launcher && count > 1 ? words[2] : words[1])
            }
        }' | sort -u
    find "$dir" -name '*Info.json' -path '*_autogen*' -exec \
        sed -nE 's/^[[:space:]]*"[A-Z_]*_EXECUTABLE"[[:space:]]*:[[:space:]]*"(\/[^"]*)".*/\1/p' {} + | sort -u
    sed -n 's/^PKG_CONFIG_EXECUTABLE:[A-Z]*=//p' "$dir/CMakeCache.txt"
}

for dir in "$@"; do
    if [ ! -f "$dir/build.ninja" ] || [ ! -f "$dir/CMakeCache.txt" ]; then
        fail "$dir is no Ninja build folder"
        continue
    fi
    dir=$(cd "$dir" && pwd)
    echo "$dir/" >>"$work/own"
    name=$(basename "$dir")
    # Each into a file first: a failure counts only outside a pipeline's subshell.
    headers_included "$dir" >"$work/found"; use "a header in $name" <"$work/found"
    cmake_files_read "$dir" >"$work/found"; use "a CMake file of $name" <"$work/found"
    libraries_linked "$dir" >"$work/found"; use "a library linked in $name" <"$work/found"
    programs_run_by_build "$dir" | while IFS= read -r word; do
        [ -n "${not_programs[$word]:-}" ] && continue
        find_program "$word"
        if [ -n "$found" ]; then echo "$found"; fi
    done >"$work/found"
    use "a program of $name's build" <"$work/found"
done

# ---- Programs the tree starts

# "name<TAB>file" for the programs a file starts: in shell, the first word of
# each command (after assignments, redirections and env, sudo, exec, timeout);
# in C++, a literal path in /usr/bin or /usr/sbin, or a name handed to
# QProcess (start, execute, setProgram), to findExecutable or to a Run...
# helper; in CMake, find_program's names and COMMAND's program.
programs_named_in_tree() {
    local file relative
    for file in "$root"/scripts/*.sh; do
        awk -v file="${file#"$root"/}" '
            function command(text,    words, count, i, word, wrapped) {
                count = split(text, words, /[[:space:]]+/)
                wrapped = 0
                for (i = 1; i <= count; i++) {
                    word = words[i]
                    if (word == "") continue
                    if (word ~ /^(for|case|select|coproc|function|in)$/) return
                    if (word ~ /^(if|then|else|elif|do|while|until|time)$/) continue
                    if (word ~ /^(env|sudo|exec|command|nohup|nice|timeout|xargs)$/) { wrapped = 1; continue }
                    if (word ~ /^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=/) continue
                    if (word ~ /^[0-9]*[<>]/) { if (word ~ /^[0-9]*[<>]+&?$/) i++; continue }
                    if (wrapped && word ~ /^-/) { if (word ~ /^-[uks]$/) i++; continue }
                    if (wrapped && word ~ /^[0-9.]+[smhd]?$/) continue
                    if (word ~ /^[A-Za-z0-9_][A-Za-z0-9_.+-]*$/ || word ~ /^\/(usr\/)?s?bin\/[A-Za-z0-9_.+-]+$/)
                        print word "\t" file
                    return
                }
            }
            # Code, with quoted text (which may span lines) and comments left out;
            # a command substitution in double quotes is code again.
            function code(text,    out, i, c) {
                out = ""
                for (i = 1; i <= length(text); i++) {
                    c = substr(text, i, 1)
                    if (quote == "\047") { if (c == "\047") quote = ""; continue }
                    if (c == "\\") { if (quote == "") out = out substr(text, i, 2); i++; continue }
                    if (quote == "\"") {
                        if (c == "\"") quote = ""
                        else if (substr(text, i, 2) == "$(") { quote = ""; nested[++depth] = 0; out = out "$("; i++ }
                        continue
                    }
                    if (c == "\047" || c == "\"") { quote = c; out = out " "; continue }
                    if (c == "#" && (i == 1 || substr(text, i - 1, 1) ~ /[[:space:];]/)) break
                    if (depth > 0 && c == "(") nested[depth]++
                    if (depth > 0 && c == ")" && nested[depth]-- == 0) { depth--; quote = "\"" }
                    out = out c
                }
                return out
            }
            quote == "" && /^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*=\([[:space:]]*(#.*)?$/ { in_list = 1; next }   # a list of words
            in_list { if ($0 ~ /^[[:space:]]*\)/) in_list = 0; next }
            {
                line = code($0)
                gsub(/\$\(|&&|\|\||[|;&(){}`!]/, "\n", line)
                n = split(line, parts, "\n")
                for (p = 1; p <= n; p++) command(parts[p])
            }' "$file"
    done
    # grep -H gives "file:match"; the file names are made relative to the tree.
    (cd "$root" && find src tests \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z | xargs -0 grep -oHE \
        -e '"/(usr/)?s?bin/[A-Za-z0-9_.+-]+"' \
        -e '\b(start|startDetached|execute|setProgram|findExecutable|Run[A-Za-z]*)\((QStringLiteral|QString::fromLatin1|QLatin1String)\("[A-Za-z0-9_.+-]+"\)' \
        || true) | awk -F'"' '{ file = $1; sub(/:.*/, "", file); print $2 "\t" file }'
    (cd "$root" && find CMakeLists.txt cmake src tests \( -name CMakeLists.txt -o -name '*.cmake' \) -print0 | sort -z \
        | xargs -0 grep -oHE '(find_program\([A-Za-z0-9_]+|COMMAND)[[:space:]]+[A-Za-z0-9_.+-]+' || true) \
        | awk '{ file = $1; sub(/:.*/, "", file); print $NF "\t" file }'
}

for name in "${indirect_programs[@]}"; do
    find_program "$name"
    if [ -z "$found" ]; then
        fail "$name, which the tests start through another program, is installed by no package here"
        continue
    fi
    echo "$found" | use "a program started by another program"
done
declare -A program_seen=()
while IFS=$'\t' read -r name file; do
    [ -n "${not_programs[$name]:-}" ] && continue
    [ -n "${program_seen[$name]:-}" ] && continue
    program_seen[$name]=1
    # A name that is no installed program is a function, a variable or a
    # word of a message: the tree's own, nothing to install.
    find_program "$name"
    if [ -n "$found" ]; then printf '%s\ta program started by %s\n' "$found" "$file"; fi
done < <(programs_named_in_tree) >"$work/found"
use <"$work/found"

# ---- Owners

# Each path in use whose file is there, as named (without . and ..) and with
# its links resolved: "named<TAB>resolved<TAB>how".
awk -F'\t' '!seen[$1]++' "$uses" | while IFS=$'\t' read -r path how; do
    if [ -e "$path" ]; then printf '%s\t%s\n' "$path" "$how"; fi
done >"$work/present"
cut -f1 "$work/present" | tr '\n' '\0' | xargs -0 -r realpath -s -m -- >"$work/named"
cut -f1 "$work/present" | tr '\n' '\0' | xargs -0 -r realpath -m -- >"$work/resolved"
cut -f2 "$work/present" | paste "$work/named" "$work/resolved" - >"$work/files"

# dpkg knows a file by the path its package ships it at: with /usr merged,
# /lib/x86_64-linux-gnu/libc.so.6 is also /usr/lib/x86_64-linux-gnu/libc.so.6.
merge_twin='
    function twin(path) {
        if (path ~ /^\/usr\/(bin|sbin|lib|lib32|lib64|libx32)\//) return substr(path, 5)
        if (path ~ /^\/(bin|sbin|lib|lib32|lib64|libx32)\//) return "/usr" path
        return ""
    }'
awk -F'\t' "$merge_twin"'
    { for (i = 1; i <= 2; i++) { print $i; if (twin($i) != "") print twin($i) } }' "$work/files" \
    | sort -u | sed 's/[][*?\\]/\\&/g' >"$work/queried"
# One dpkg-query for them all (each one reads the whole database): "path<TAB>owner, owner".
{ xargs -d '\n' -r -s 1000000 dpkg-query -S -- <"$work/queried" 2>/dev/null || true; } \
    | sed -n '/^diversion by /d; s/^\([^/]*\): \(\/.*\)$/\2\t\1/p' >"$work/owners"

# ---- What the install script brings

bash "$install_script" --list >"$work/named-packages"
# Installed packages: "package<TAB>base<TAB>provides<TAB>depends", base "yes"
# for an essential or required one.
dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Essential}\t${Priority}\t${Provides}\t${Pre-Depends}, ${Depends}\n' \
    | awk -F'\t' 'substr($1, 2, 1) == "i" { print $2 "\t" ($3 == "yes" || $4 == "required" ? "yes" : "no") "\t" $5 "\t" $6 }' \
    >"$work/installed"
# The packages named, the base, and what they depend on, recursively; of the
# alternatives of a dependency the first one that is installed (itself, or
# the packages that provide it). "closure<TAB>package", and
# "absent<TAB>package" for a package named and not installed.
awk -F'\t' '
    function bare(name) { sub(/\(.*/, "", name); gsub(/[[:space:]]/, "", name); sub(/:.*/, "", name); return name }
    function add(package) { if (!(package in inside)) { inside[package] = 1; queue[tail++] = package } }
    FNR == NR { named[$1] = 1; next }
    {
        installed[$1] = 1
        depends[$1] = depends[$1] "," $4
        if ($2 == "yes") base[$1] = 1
        count = split($3, provided, ",")
        for (i = 1; i <= count; i++) if (bare(provided[i]) != "") providers[bare(provided[i])] = providers[bare(provided[i])] " " $1
    }
    END {
        for (package in named) if (package in installed) add(package); else print "absent\t" package
        for (package in base) add(package)
        for (head = 0; head < tail; head++) {
            count = split(depends[queue[head]], clauses, ",")
            for (i = 1; i <= count; i++) {
                alternatives = split(clauses[i], choice, "|")
                for (j = 1; j <= alternatives; j++) {
                    name = bare(choice[j])
                    if (name == "") continue
                    if (name in installed) { add(name); break }
                    if (name in providers) {
                        n = split(providers[name], by, " ")
                        for (k = 1; k <= n; k++) add(by[k])
                        break
                    }
                }
            }
        }
        for (package in inside) print "closure\t" package
    }' "$work/named-packages" "$work/installed" >"$work/closure"

while IFS= read -r package; do
    fail "$package is named in $(basename "$install_script") but not installed (run it first)"
done < <(sed -n 's/^absent\t//p' "$work/closure")

# ---- The verdict: for the file as named and as resolved, one of its owners
# must be brought. "missing<TAB>package<TAB>path<TAB>how" or
# "unowned<TAB>path<TAB>how".
awk -F'\t' "$merge_twin"'
    FILENAME == ARGV[1] { if ($1 == "closure") brought[$2] = 1; next }
    FILENAME == ARGV[2] { owners[$1] = $2; next }
    function owners_of(path,    list) {
        list = owners[path]
        if (twin(path) in owners) list = list (list == "" ? "" : ", ") owners[twin(path)]
        return list
    }
    function judge(list, path, how,    count, names, i, package, missing) {
        count = split(list, names, ", ")
        missing = ""
        for (i = 1; i <= count; i++) {
            package = names[i]
            sub(/:.*/, "", package)
            if (package in brought) return
            missing = missing " " package
        }
        count = split(missing, names, " ")
        for (i = 1; i <= count; i++) print "missing\t" names[i] "\t" path "\t" how
    }
    {
        named = owners_of($1); resolved = owners_of($2)
        if (named == "" && resolved == "") { print "unowned\t" $1 "\t" $3; next }
        if (named != "") judge(named, $1, $3)
        if (resolved != "" && $2 != $1) judge(resolved, $2, $3)
    }' "$work/closure" "$work/owners" "$work/files" >"$work/verdict"

while IFS= read -r package; do
    awk -F'\t' -v p="$package" '$1 == "missing" && $2 == p { print "  " $3 " (" $4 ")" }' "$work/verdict" \
        | sort -u >"$work/examples"
    more=$(($(wc -l <"$work/examples") - 5))
    fail "$package is used, but $(basename "$install_script") neither names it nor pulls it in:
$(head -n 5 "$work/examples")$([ $more -le 0 ] || printf '\n  ... and %d more' $more)"
done < <(awk -F'\t' '$1 == "missing" { print $2 }' "$work/verdict" | sort -u)
while IFS=$'\t' read -r path how; do
    fail "no Debian package owns $path ($how)"
done < <(awk -F'\t' '$1 == "unowned" { print $2 "\t" $3 }' "$work/verdict" | sort -u)

if [ $failures -gt 0 ]; then
    echo "install closure check: $failures failures" >&2
    exit 1
fi
echo "install closure check: $(wc -l <"$work/files") files in use, all from packages $(basename "$install_script") names or pulls in"
