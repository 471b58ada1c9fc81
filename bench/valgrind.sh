#!/bin/sh
# The end-to-end suite with every morvend it starts run under valgrind:
# any memory error or leak fails the run and is printed.
# The failed-fork test is left out: valgrind cannot start in a process that
# may not fork or start a thread.
# usage: bench/valgrind.sh [build dir]
set -eu
build=${1:-build}
logs=$(mktemp -d "${TMPDIR:-/tmp}/morvend-valgrind.XXXXXX")
trap 'rm -rf "$logs"' EXIT INT TERM
MORVEND_TEST_WRAPPER="valgrind -q --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --log-file=$logs/vg.%p" \
    ctest --test-dir "$build" -j2 --output-on-failure \
    -R 'Running|StopSignal|Faults|Options|Background' -E AFailedFork \
    && status=0 || status=$?
found=0
for log in "$logs"/vg.*; do
	[ -s "$log" ] || continue
	found=1
	echo "== $log"
	cat "$log"
done
echo "valgrind reports: $( [ $found = 0 ] && echo none || echo 'see above')"
[ $status = 0 ] && [ $found = 0 ]
