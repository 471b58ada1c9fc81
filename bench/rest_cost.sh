#!/bin/sh
# What QUICK_WAIT and WRITE_AHEAD cost at rest: morvend on the simulated
# host while free swap sits just under twice GROW_BUFFER (quick polls,
# nothing to resize), without either, with QUICK_WAIT 250 and with
# WRITE_AHEAD 1 (the next grow's file written in the first pauses), for a
# bounded time.  Prints the cycles, the CPU seconds per hour, from
# /proc/PID/stat: morvend's own, and its children's (the shell and the
# tools it runs; the stand-ins are bash scripts, far heavier than
# FreeBSD's swapctl), and morvend's resident memory at the end.
# usage: bench/rest_cost.sh [build dir] [seconds]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/morvend-rest.XXXXXX")
pid=
cleanup() {
	[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT INT TERM
export SIMHOST_STATE="$work/host"
ticks=$(getconf CLK_TCK)

# Free swap 502 MiB: above the floor of 256, under twice it.
run() {	# name, extra configuration
	rm -rf "$SIMHOST_STATE" "$work/swap"
	"$here/simhost/simctl" init
	"$here/simhost/simctl" set foreign_total 1024
	"$here/simhost/simctl" set used 522
	mkdir "$work/swap"
	printf 'SWAP_FILE %s\n%s' "$work/swap/swap0" "$2" >"$work/morvend.conf"
	PATH="$here/simhost/bin:$PATH" "$build/morvend" -c "$work/morvend.conf" &
	pid=$!
	sleep "$seconds"
	# utime stime cutime cstime: fields 14 to 17, after the command's ")".
	set -- "$1" $(sed 's/.*) //' "/proc/$pid/stat" | cut -d' ' -f12-15)
	rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
	cycles=$(( $(grep -c '^swapctl -s -m$' "$SIMHOST_STATE/log") / 2 ))
	kill -TERM "$pid"
	wait "$pid" || true
	pid=
	awk -v name="$1" -v c="$cycles" -v s="$seconds" -v t="$ticks" \
	    -v own=$(($2 + $3)) -v kids=$(($4 + $5)) -v rss="$rss" 'BEGIN {
		printf "%-16s %5d cycles in %d s; CPU s/hour: morvend %.2f, its tools %.1f; RSS %.1f MiB\n",
		    name, c, s, own / t * 3600 / s, kids / t * 3600 / s, rss / 1024 }'
}

run "WAIT_TIME 5" ""
run "QUICK_WAIT 250" "QUICK_WAIT 250
"
run "WRITE_AHEAD 1" "WRITE_AHEAD 1
"
