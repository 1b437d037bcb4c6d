#!/bin/sh
# Runs every fuzz target of a sanitizer build for a given time, two at a time, with its
# seeds and a corpus kept in the build tree. Usage: fuzz-long.sh BUILD_DIR SECONDS
set -eu
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
out="$build/fuzz-long"
mkdir -p "$out"
run_one() {
    name=$(basename "$1")
    mkdir -p "$out/$name.corpus"
    seeds=$(find "$root/tests/fuzz/corpus" -maxdepth 1 -type d -name "*${name#fuzz_}*" | head -1)
    "$1" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        "$out/$name.corpus" $seeds >"$out/$name.log" 2>&1 &&
        echo "$name: ok, $(grep -c . "$out/$name.log") log lines" ||
        echo "$name: FAILED, see $out/$name.log"
}
# The fuzz targets are the ctest entries labelled "fuzz", named fuzz.<program>.
set --
for name in $(cd "$build" && ctest -N -L fuzz | sed -n 's/.*Test *#[0-9]*: fuzz\.//p'); do
    set -- "$@" "$build/bin/$name"
done
while [ $# -gt 0 ]; do
    run_one "$1" &
    if [ $# -gt 1 ]; then
        shift
        run_one "$1" &
    fi
    shift
    wait
done
grep -h "stat::number_of_executed_units\|cov:" "$out"/*.log | tail -40 || true
