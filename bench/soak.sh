#!/bin/sh
# A soak on the simulated host: WAIT_TIME=1 and a load that keeps crossing
# both thresholds, for a bounded time.  Prints cycles, resizes, resident
# memory and open descriptors early and late, and zombie children.
# usage: bench/soak.sh [build dir] [seconds]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/morvend-soak.XXXXXX")
pid=
cleanup() {
	[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT INT TERM
export SIMHOST_STATE="$work/host"
simctl="$here/simhost/simctl"
"$simctl" init
"$simctl" set foreign_total 256
mkdir "$work/swap"
cat >"$work/morvend.conf" <<CONF
SWAP_FILE $work/swap/swap0
GROW_BUFFER 64
REDUCE_BUFFER 160
DELTA_SIZE 32
WAIT_TIME 1
CONF

PATH="$here/simhost/bin:$PATH" "$build/morvend" -c "$work/morvend.conf" &
pid=$!

# Resident KiB, and open descriptors: the fewest of five looks, since a
# look that falls in a probe also sees its pipe.
sample() {
	fds=99
	for look in 1 2 3 4 5; do
		n=$(ls /proc/$pid/fd | wc -l)
		[ "$n" -ge "$fds" ] || fds=$n
		sleep 0.1
	done
	echo "$(awk '/^VmRSS/ { print $2 }' /proc/$pid/status) $fds"
}

# Used swap swings between 250 and 40 MiB every four seconds: free swap
# crosses both thresholds, two steps each way.
elapsed=0 early=
while [ "$elapsed" -lt "$seconds" ]; do
	if [ $((elapsed / 4 % 2)) = 0 ]; then "$simctl" set used 250; else "$simctl" set used 40; fi
	sleep 1
	elapsed=$((elapsed + 1))
	[ "$elapsed" != 10 ] || early=$(sample)
done
late=$(sample)
zombies=$(ps -o stat= --ppid "$pid" | grep -c '^Z' || true)
cp "$SIMHOST_STATE/log" "$work/log.running"
kill -TERM "$pid"
wait "$pid" && status=0 || status=$?
pid=

cycles=$(($(grep -c '^swapctl' "$work/log.running") / 2))
# A cycle that ran anything besides the two probes resized.
resizes=$(awk '/^swapctl/ { if (acted) n++; acted = 0; next } { acted = 1 }
    END { print n + acted }' "$work/log.running")
set -- $early $late
echo "soak of $seconds s: $cycles cycles, $resizes resizes"
echo "resident memory: at 10 s $1 KiB, at the end $3 KiB"
echo "open descriptors: at 10 s $2, at the end $4"
echo "zombie children: $zombies"
echo "exit status after SIGTERM: $status; devices left: $("$simctl" units | wc -l)"
