#!/bin/sh
# Runs every fuzz target of a sanitizer build for a given time, two at a time, each with its
# committed seeds and its corpus in the build tree. Usage: fuzz-long.sh BUILD_DIR SECONDS
set -eu
build=$1
seconds=$2
out="$build/fuzz-long"
mkdir -p "$out"
run_one() {
    name=$(basename "$1" .sh)
    if sh "$1" "$seconds" >"$out/$name.log" 2>&1; then
        echo "$name: ok: $(grep -h 'stat::number_of_executed_units' "$out/$name.log")" \
            "$(grep -h 'cov:' "$out/$name.log" | tail -1)"
    else
        echo "$name: FAILED, see $out/$name.log"
    fi
}
set --
for f in "$build"/fuzz/*.sh; do
    [ -f "$f" ] && set -- "$@" "$f"
done
while [ $# -gt 0 ]; do
    run_one "$1" &
    shift
    if [ $# -gt 0 ]; then
        run_one "$1" &
        shift
    fi
    wait
done
