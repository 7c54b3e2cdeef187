#!/usr/bin/env bash
# Builds the fuzz targets with Clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time, seeded with a
# scratch copy of its committed corpus so that new inputs never land in the
# repository. Fails when a target crashes, leaks, hangs or breaks a property.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60; FUZZ_BUILD_DIR=... to move the build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
dir=${FUZZ_BUILD_DIR:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVARIK_FUZZ=ON -DVARIK_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target varik_fuzzers

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mapfile -t targets < <(find "$dir/tests/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x | sort)
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets were built" >&2
    exit 1
fi

status=0
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus=$scratch/$name/corpus
    artifacts=$scratch/$name/artifacts
    mkdir -p "$corpus" "$artifacts"
    [ -d "$root/tests/fuzz/corpus/$name" ] && cp -r "$root/tests/fuzz/corpus/$name/." "$corpus/"
    echo "== $name (${seconds}s)"
    # -timeout: one input taking this long counts as a hang; -rss_limit_mb bounds
    # memory; the outer timeout catches a fuzzer that hangs outside any input.
    if timeout --kill-after=10 $((seconds + 120)) \
        "$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$scratch/$name/log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|^Done ' "$scratch/$name/log" || true
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$scratch/$name/log" \
            | tr -s ' \n' ' ' || true
        echo
    else
        status=1
        echo "!! $name failed; the end of its log:" >&2
        tail -n 60 "$scratch/$name/log" >&2
        for input in "$artifacts"/*; do
            [ -e "$input" ] || continue
            kept=$dir/fuzz-artifacts/$name
            mkdir -p "$kept"
            cp "$input" "$kept/"
            echo "!! failing input kept as $kept/$(basename "$input")" >&2
        done
    fi
done
exit $status
