#!/bin/sh
# bench/survival.sh's argument handling, in dry runs that touch nothing:
# one row per command line, with the exit status and first line it gives.
# usage: survival_args_test.sh SOURCE_DIR
script=$1/bench/survival.sh
failed=0
row() {	# status first-line args...
	want_status=$1 want_line=$2
	shift 2
	got_line=$(bash "$script" --dry-run "$@" 2>&1 | head -n 1)
	bash "$script" --dry-run "$@" >/dev/null 2>&1
	got_status=$?
	if [ "$got_status" != "$want_status" ] || [ "$got_line" != "$want_line" ]; then
		echo "FAIL: $*: status $got_status, \"$got_line\""
		failed=1
	fi
}
usage='usage: bench/survival.sh [--build DIR] [--total MIB] [--limit MIB]'

row 0 "hog: 384 MiB at each of 25 50 100 200 400 800 1600 MiB/s, in a cgroup of 64 MiB"
row 0 "hog: 1024 MiB at each of 10 30 MiB/s, in a cgroup of 128 MiB" \
    --total 1024 --limit 128 --rates "10 30" --runs 1 --plot x.png
row 2 "$usage" --rates ""
row 2 "$usage" --rates "10 fast"
row 2 "$usage" --total 0
row 2 "$usage" --runs -1
row 2 "$usage" --plot x.svg
row 2 "$usage" --settings "both/1 fastest"
row 0 "hog: 384 MiB at each of 800 MiB/s, in a cgroup of 64 MiB" \
    --rates 800 --settings "both/1 static"
row 0 "hog: 384 MiB at each of 100 MiB/s, in a cgroup of 64 MiB" \
    --rates 100 --settings "ahead/5 static" --fill-mbps 200
row 0 "hog: 1536 MiB at each of 50 100 150 200 MiB/s, in a cgroup of 64 MiB" \
    --sustained
row 0 "hog: 1536 MiB at each of 100 MiB/s, in a cgroup of 64 MiB" \
    --sustained --rates 100
row 2 "$usage" --fill-mbps ""
row 2 "$usage" --fill-mbps "100 0"
row 2 "$usage" --fill-mbps 0
row 2 "$usage" --fill-mbps fast
row 2 "$usage" --limit
row 2 "$usage" --verbose
row 2 "survival: the limit must be below the total, or no swap is needed" \
    --total 64 --limit 64
[ "$(bash "$script" --dry-run --runs 1 | sed -n 2,3p)" = \
    "settings: today/1 today/5 quick/1 quick/5 devices/1 devices/5 both/1 both/5 ahead/1 ahead/5 static; 1 run(s) each
morvend's fills: at page-cache speed" ] ||
    { echo "FAIL: the plan's second and third lines"; failed=1; }
[ "$(bash "$script" --dry-run --fill-mbps 200 | sed -n 3p)" = \
    "morvend's fills: paced at 200 MB/s" ] ||
    { echo "FAIL: the plan's pace"; failed=1; }
[ "$(bash "$script" --dry-run --sustained | sed -n 2,3p)" = \
    "settings: both/5 ahead/5 static; 3 run(s) each
morvend's fills: paced at 100 MB/s, then paced at 200 MB/s" ] ||
    { echo "FAIL: the sustained plan"; failed=1; }
exit $failed
