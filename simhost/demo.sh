#!/bin/sh
# A short session on the simulated host: swap use rises and falls, and
# morvend grows and shrinks its device.  Shows what morvend ran.
# usage: simhost/demo.sh [path to morvend]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
morvend=$(cd "$(dirname "${1:-build/morvend}")" && pwd)/$(basename "${1:-build/morvend}")
work=$(mktemp -d "${TMPDIR:-/tmp}/morvend-demo.XXXXXX")
pid=
cleanup() {
	[ -z "$pid" ] || kill "$pid" 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT INT TERM

export SIMHOST_STATE="$work/host"
PATH="$here/bin:$PATH"
simctl="$here/simctl"
"$simctl" init
"$simctl" set foreign_total 512
"$simctl" set used 200

mkdir "$work/swap"
cat >"$work/morvend.conf" <<CONF
# the demo's own configuration: small steps, a one-second cycle
SWAP_FILE $work/swap/swap0
GROW_BUFFER 128
REDUCE_BUFFER 256
DELTA_SIZE 64
WAIT_TIME 1
MAX_SIZE 256
CONF
echo "== configuration"
cat "$work/morvend.conf"

shown=0
show() {
	echo "== $1"
	"$simctl" set used "$2"
	sleep "${3:-4}"
	total=$(awk 'END { print NR }' "$SIMHOST_STATE/log")
	awk -v from="$shown" 'NR > from && $0 != "swapctl -s -m" { print "   ran: " $0 }' "$SIMHOST_STATE/log"
	shown=$total
	printf '   swapctl -s -m: %s\n' "$("$simctl" totals)"
	"$simctl" units | sed 's/^/   device: /'
}

"$morvend" -c "$work/morvend.conf" &
pid=$!
show "512 MiB of other swap, 200 MiB used: 312 free, nothing to do" 200
show "used rises to 420 MiB: 92 free is below 128, grow" 420
show "used rises to 600 MiB: grow again, up to MAX_SIZE 256" 600 5
show "used falls to 100 MiB: free swap above 256, shrink down to none" 100 6
echo "== SIGTERM"
kill -TERM "$pid"
wait "$pid" && echo "   morvend exited with status 0"
pid=
awk -v from="$shown" 'NR > from && $0 != "swapctl -s -m" { print "   ran: " $0 }' "$SIMHOST_STATE/log"
echo "   devices left: $("$simctl" units | wc -l), swap file left: $(ls "$work/swap" | wc -l)"
