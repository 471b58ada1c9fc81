#!/bin/sh
# The swap file fill against dd if=/dev/zero bs=1M: same size, same
# directory, same run.  Prints the best of five for each and their ratio.
# usage: bench/fill_vs_dd.sh [build dir] [MiB] [directory]
set -eu
build=${1:-build}
mib=${2:-512}
dir=${3:-${TMPDIR:-/tmp}}
file="$dir/morvend-bench.$$"
trap 'rm -f "$file"' EXIT INT TERM

dd_rate() {
	start=$(date +%s.%N)
	dd if=/dev/zero of="$file" bs=1M count="$mib" status=none
	end=$(date +%s.%N)
	rm -f "$file"
	echo "$mib $start $end" | awk '{ printf "%.1f\n", $1 / ($3 - $2) }'
}

best_dd=0 best_fill=0
for round in 1 2 3 4 5; do
	rate=$(dd_rate)
	best_dd=$(echo "$best_dd $rate" | awk '{ print ($2 > $1) ? $2 : $1 }')
	rate=$("$build/bench/morvend_bench_fill" "$file" "$mib")
	best_fill=$(echo "$best_fill $rate" | awk '{ print ($2 > $1) ? $2 : $1 }')
done
echo "$mib $best_dd $best_fill" | awk '{
	printf "size %d MiB in %s\n", $1, dir
	printf "dd bs=1M:        %8.1f MiB/s\n", $2
	printf "fill_swap_file:  %8.1f MiB/s\n", $3
	printf "ratio fill/dd:   %8.2f\n", $3 / $2
}' dir="$dir"
