#!/bin/sh
# The unmodified daemon on the real Linux kernel, under real memory
# pressure: a memory hog confined by a cgroup far below what it allocates
# is killed without swap and finishes with morvend running, even when
# morvend is killed with SIGKILL half way and started again: the new one
# takes back the swap the hog is using.  Afterwards no swap area, loop
# device, backing file or process of the test is left.
# usage: real_kernel_test.sh BUILD_DIR SOURCE_DIR      (exit 77: skipped)
set -u
build=$1 source=$2
morvend="$build/morvend" hog="$build/tests/morvend_hog"
group=/sys/fs/cgroup/memory/morvend-real.$$
limit_mib=64 hog_mib=256

skip() { echo "SKIP: $*"; exit 77; }
[ "${MORVEND_TEST_REAL_MACHINE:-}" = 1 ] ||
    skip "touches this machine's swap; MORVEND_TEST_REAL_MACHINE=1 asks for it"
[ "$(id -u)" = 0 ] || skip "not root"
[ -w /sys/fs/cgroup/memory ] || skip "no cgroup v1 memory controller"
losetup -f >/dev/null 2>&1 || skip "no free loop device"
[ "$(awk 'NR > 1' /proc/swaps | wc -l)" = 0 ] || skip "swap is already in service here"
command -v mkswap >/dev/null || [ -x /usr/sbin/mkswap ] || [ -x /sbin/mkswap ] || skip "no mkswap"

work=$(mktemp -d /tmp/morvend-real.XXXXXX)
export SIMHOST_STATE="$work/host"
daemon=
cleanup() {
	[ -z "$daemon" ] || kill -KILL "$daemon" 2>/dev/null
	for pid in $(cat "$group/cgroup.procs" 2>/dev/null); do kill -KILL "$pid"; done
	for unit in "$SIMHOST_STATE"/md/*; do
		[ -e "$unit" ] || continue
		loop=$(sed -n 3p "$unit")
		swapoff "$loop" 2>/dev/null
		losetup -d "$loop" 2>/dev/null
	done
	sleep 0.2
	rmdir "$group" 2>/dev/null
	rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

"$source/simhost/simctl" init
mkdir "$work/swap"
mkdir "$group" && echo $((limit_mib << 20)) >"$group/memory.limit_in_bytes" || exit 1

run_hog() {
	sh -c 'echo $$ >"$1/cgroup.procs" && exec "$2" "$3" 40' sh "$group" "$hog" "$hog_mib"
}

failed=0
run_hog >/dev/null 2>&1
status=$?
echo "without morvend: the hog exited with status $status"
[ "$status" -ne 0 ] || { echo "FAIL: the hog needs no swap; the test proves nothing"; failed=1; }

cat >"$work/morvend.conf" <<CONF
SWAP_FILE $work/swap/swap0
GROW_BUFFER 96
REDUCE_BUFFER 512
DELTA_SIZE 128
WAIT_TIME 1
MAX_SIZE 1024
CONF
start_morvend() {
	PATH="$source/simhost/kernel:$PATH" "$morvend" -c "$work/morvend.conf" &
	daemon=$!
}
# Polls for up to ten seconds.
until_true() {
	tries=0
	until eval "$1" || [ $tries -ge 100 ]; do
		sleep 0.1; tries=$((tries + 1))
	done
}
swap_in_use() {
	awk 'NR > 1 { used += $4 } END { exit !(used > 0) }' /proc/swaps
}

start_morvend
until_true '[ "$(awk "NR > 1" /proc/swaps | wc -l)" -gt 0 ]'
run_hog >/dev/null &
hog=$!
until_true swap_in_use
kill -KILL "$daemon"
wait "$daemon" 2>/dev/null
echo "morvend killed with SIGKILL while the hog uses its swap; started again"
start_morvend
wait "$hog"
status=$?
echo "with morvend: the hog exited with status $status"
[ "$status" -eq 0 ] || failed=1
[ "$(grep -c '^mdconfig -l -v' "$SIMHOST_STATE/log")" -ge 2 ] || { echo "FAIL: the restart did not look for its devices"; failed=1; }
echo "morvend ran:"
grep -v '^swapctl' "$SIMHOST_STATE/log" | grep -v '^mdconfig -l' | sed 's/^/  /'
[ "$(grep -c '^swapon' "$SIMHOST_STATE/log")" -ge 2 ] || { echo "FAIL: no resize under load"; failed=1; }

kill -TERM "$daemon"
wait "$daemon"
status=$?
daemon=
echo "morvend stopped with status $status"
[ "$status" -eq 0 ] || failed=1

sleep 0.2
left_swap=$(awk 'NR > 1' /proc/swaps)
left_loops=$(losetup -a | grep -F "$work")
left_files=$(ls -A "$work/swap")
left_procs=$(cat "$group/cgroup.procs")
for what in left_swap left_loops left_files left_procs; do
	eval "value=\$$what"
	if [ -n "$value" ]; then
		echo "FAIL: $what: $value"
		failed=1
	fi
done
[ $failed = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $failed
