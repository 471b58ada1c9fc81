#!/bin/sh
# One whole grow step on the simulated host, from the probes to the new
# device in service.  usage: bench/grow_step.sh [build dir] [MiB] [runs]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/morvend-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export SIMHOST_STATE="$work/host"
"$here/simhost/simctl" init
PATH="$here/simhost/bin:$PATH" "$build/bench/morvend_bench_grow" \
    "$work/swap0" "${2:-256}" "${3:-5}"
