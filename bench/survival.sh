#!/usr/bin/env bash
# How fast may a program's memory grow before morvend can no longer keep it
# alive, and what does that cost the disk?  On the real Linux kernel (the
# simhost/kernel stand-ins: memory disks are loop devices), a hog allocates
# and touches memory at R MiB/s up to TOTAL MiB inside a memory cgroup of
# LIMIT MiB, so all it holds beyond the limit must go to swap.  For each R
# on the ladder, RUNS runs each of:
#   static     a loop-device swap made before the hog starts, as large as
#              the most swap morvend held so far (the rates go up, so this
#              is what it reached where it kept the hog alive); it runs
#              after the others at each rate
#   today/W    morvend with WAIT_TIME W (1, or the default 5), the other
#              settings at their defaults
#   quick/W    the same with QUICK_WAIT 250
#   devices/W  the same with MAX_DEVICES 8
#   both/W     the same with QUICK_WAIT 250 and MAX_DEVICES 8
#   ahead/W    both, and WRITE_AHEAD 1; the hog starts once the file ahead
#              is written, as on a machine where morvend ran before the load
# Survival: the hog finishes and finds its memory intact.  A setting that
# lost every run at one rate is not tried at the higher ones.  With
# --fill-mbps N, morvend's large writes (its fills) go at N MB/s, as on a
# disk with no dirty buffers left (bench/pace_writes.c).
#
# usage: bench/survival.sh [--build DIR] [--total MIB] [--limit MIB]
#            [--rates "R ..."] [--runs N] [--settings "S ..."]
#            [--fill-mbps N] [--plot FILE.png] [--dry-run]
# Needs root, a v1 or v2 memory cgroup, free loop devices and no swap in
# service; otherwise it says why and exits 0 without a figure.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build total=384 limit=64 rates="25 50 100 200 400 800 1600"
runs=3 plot= dry_run=0 fill_mbps=
settings="today/1 today/5 quick/1 quick/5 devices/1 devices/5 both/1 both/5 ahead/1 ahead/5 static"

usage() {
	echo "usage: bench/survival.sh [--build DIR] [--total MIB] [--limit MIB]" >&2
	echo "           [--rates \"R ...\"] [--runs N] [--settings \"S ...\"]" >&2
	echo "           [--fill-mbps N] [--plot FILE.png] [--dry-run]" >&2
	exit 2
}
whole() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }
while [ $# -gt 0 ]; do
	[ $# -ge 2 ] || [ "$1" = --dry-run ] || usage
	case $1 in
	--build) build=$2 ;;
	--total) whole "$2" || usage; total=$2 ;;
	--limit) whole "$2" || usage; limit=$2 ;;
	--rates) rates=$2
		[ -n "$rates" ] || usage
		for r in $rates; do whole "$r" || usage; done ;;
	--runs) whole "$2" || usage; runs=$2 ;;
	--settings) settings=$2
		[ -n "$settings" ] || usage
		for x in $settings; do
			[[ $x =~ ^((today|quick|devices|both|ahead)/[1-9][0-9]*|static)$ ]] || usage
		done ;;
	--fill-mbps) whole "$2" || usage; fill_mbps=$2 ;;
	--plot) [[ $2 == *.png ]] || usage; plot=$2 ;;
	--dry-run) dry_run=1; shift; continue ;;
	*) usage ;;
	esac
	shift 2
done
[ "$limit" -lt "$total" ] || { echo "survival: the limit must be below the total, or no swap is needed" >&2; exit 2; }

echo "hog: $total MiB at each of $rates MiB/s, in a cgroup of $limit MiB"
echo "settings: $settings; $runs run(s) each${plot:+; plot of one run in $plot}"
pace="at page-cache speed"
[ -z "$fill_mbps" ] || pace="paced at $fill_mbps MB/s"
echo "morvend's fills: $pace"
[ $dry_run = 0 ] || exit 0

cannot() { echo "survival: $*; no figure"; exit 0; }
[ "$(id -u)" = 0 ] || cannot "not root"
if [ -w /sys/fs/cgroup/memory/memory.limit_in_bytes ]; then
	group=/sys/fs/cgroup/memory/morvend-survival.$$ limit_file=memory.limit_in_bytes
elif grep -qw memory /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
	group=/sys/fs/cgroup/morvend-survival.$$ limit_file=memory.max
	grep -qw memory /sys/fs/cgroup/cgroup.subtree_control ||
	    echo +memory >/sys/fs/cgroup/cgroup.subtree_control ||
	    cannot "cannot enable the v2 memory controller"
else
	cannot "no v1 or v2 memory cgroup"
fi
losetup -f >/dev/null 2>&1 || cannot "no free loop device"
[ "$(awk 'NR > 1' /proc/swaps | wc -l)" = 0 ] || cannot "swap is already in service here"
[ -x "$build/morvend" ] && [ -x "$build/tests/morvend_hog" ] ||
    cannot "no $build/morvend or $build/tests/morvend_hog: build first"
pacer=$build/tests/libmorvend_pace_writes.so
[ -z "$fill_mbps" ] || [ -f "$pacer" ] || cannot "no $pacer: build first"
if [ -n "$plot" ] && ! command -v gnuplot >/dev/null; then
	echo "survival: no gnuplot (apt-get install gnuplot-nox); no plot"
	plot=
fi

work=$(mktemp -d /tmp/morvend-survival.XXXXXX)
export SIMHOST_STATE=$work/host
tools=$here/simhost/kernel
daemon= hog= sampler=

# Everything a run leaves, whatever state it was cut off in.
tear_down() {
	local f
	for pid in $hog $daemon $sampler; do kill -KILL "$pid" 2>/dev/null; done
	for pid in $(cat "$group/cgroup.procs" 2>/dev/null); do kill -KILL "$pid"; done
	wait 2>/dev/null
	daemon= hog= sampler=
	for f in "$SIMHOST_STATE"/md/*; do
		case ${f##*/} in *.*|"*") continue ;; esac
		PATH=$tools:$PATH swapoff "/dev/md${f##*/}" 2>/dev/null
		PATH=$tools:$PATH mdconfig -d -u "${f##*/}" 2>/dev/null
	done
	rm -rf "$SIMHOST_STATE" "$work/swap"
}
set_up() {
	"$here/simhost/simctl" init
	mkdir "$work/swap"
}
cleanup() {
	tear_down
	sleep 0.2
	rmdir "$group" 2>/dev/null
	rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

mkdir "$group" && echo $((limit << 20)) >"$group/$limit_file" ||
    cannot "cannot make a memory cgroup"

# Every 0.2 s: seconds, the hog's memory (resident and swapped), total and
# used swap, morvend's swap (all of it, in a run of morvend), the hog's
# swapped memory, all in MiB.
sample() {
	local t0=$EPOCHREALTIME
	while kill -0 "$1" 2>/dev/null; do
		awk -v now="$EPOCHREALTIME" -v t0="$t0" '
		    FILENAME ~ /status/ && /^Vm(RSS|Swap):/ { hog += $2 }
		    FILENAME ~ /status/ && /^VmSwap:/ { swapped = $2 }
		    FILENAME == "/proc/swaps" && FNR > 1 {
			total += $3; used += $4; big += $3 }
		    END { printf "%.1f %d %d %d %d %d\n", now - t0, hog / 1024,
			total / 1024, used / 1024, big / 1024, swapped / 1024 }' \
		    "/proc/$1/status" /proc/swaps 2>/dev/null
		sleep 0.2
	done
}

# Runs the hog at a rate in the cgroup, with samples to a file; sets
# survived (0 or 1), took (seconds), hog_swap (largest MiB swapped) and
# swapped_at (MiB/s at which the hog's memory went to swap: from its first
# page swapped to the most it had there).
run_hog() {	# rate samples
	local status deadline
	sh -c 'echo $$ >"$1/cgroup.procs" && exec "$2" "$3" "$4"' sh "$group" \
	    "$build/tests/morvend_hog" "$total" "$1" >"$work/hog.out" 2>&1 &
	hog=$!
	sample "$hog" >"$2" &
	sampler=$!
	deadline=$((60 + 20 * total / $1))
	sleep "$deadline" &
	local watchdog=$!
	# A hog stuck past its deadline counts as lost.
	# The shell's own "Killed" notices go too.
	while kill -0 "$hog" && kill -0 "$watchdog"; do
		sleep 0.2
	done 2>/dev/null
	kill -KILL "$hog" "$watchdog" 2>/dev/null
	wait "$hog" 2>/dev/null
	status=$?
	wait "$watchdog" "$sampler" 2>/dev/null
	hog= sampler=
	survived=$((status == 0))
	took=$(cat "$work/hog.out")
	[ $survived = 1 ] || took=-
	hog_swap=$(awk '$6 > m { m = $6 } END { print m - 0 }' "$2")
	swapped_at=$(awk '$6 > 0 && t0 == "" { t0 = $1 }
	    $6 > m { m = $6; t = $1 }
	    END { if (t > t0) printf "%.0f", m / (t - t0); else print "-" }' "$2")
}

# morvend on the kernel with a setting such as both/1: sets the run's
# figures, biggest (MiB) and wrote (MiB written to its swap files).
run_morvend() {	# setting rate samples
	set_up
	printf 'SWAP_FILE %s\nWAIT_TIME %s\n' "$work/swap/swap0" "${1#*/}" >"$work/morvend.conf"
	case ${1%/*} in
	quick) echo "QUICK_WAIT 250" ;;
	devices) echo "MAX_DEVICES 8" ;;
	both) printf 'QUICK_WAIT 250\nMAX_DEVICES 8\n' ;;
	ahead) printf 'QUICK_WAIT 250\nMAX_DEVICES 8\nWRITE_AHEAD 1\n' ;;
	esac >>"$work/morvend.conf"
	PATH=$tools:$PATH LD_PRELOAD=${fill_mbps:+$pacer} PACE_WRITES_MBPS=$fill_mbps \
	    "$build/morvend" -c "$work/morvend.conf" >/dev/null 2>&1 &
	daemon=$!
	for _ in $(seq 300); do
		[ "$(awk 'NR > 1' /proc/swaps | wc -l)" -gt 0 ] && break
		sleep 0.1
	done
	# The next step's file, 256 MiB by default, written and synced.
	if [ "${1%/*}" = ahead ]; then
		for _ in $(seq 600); do
			[ "$(stat -c %s "$work/swap/swap0.ahead" 2>/dev/null)" = $((256 << 20)) ] && break
			sleep 0.1
		done
		sleep 0.5
	fi
	run_hog "$2" "$3"
	wrote=$(awk '/^wchar/ { print int($2 / 1048576) }' "/proc/$daemon/io")
	biggest=$(awk '$5 > m { m = $5 } END { print m - 0 }' "$3")
	kill -TERM "$daemon"
	wait "$daemon"
	daemon=
	tear_down
}

run_static() {	# size rate samples
	set_up
	dd if=/dev/zero of="$work/swap/static" bs=1M count="$1" status=none
	PATH=$tools:$PATH mdconfig -a -t vnode -f "$work/swap/static" -u 0 &&
	    PATH=$tools:$PATH swapon /dev/md0 || { echo "survival: no static swap" >&2; exit 1; }
	run_hog "$2" "$3"
	tear_down
}

mean() { awk '$1 != "-" { s += $1; n++ } END { if (n) printf "%.1f", s / n; else printf "-" }'; }

printf '%-10s %6s %9s %6s %9s %8s %11s\n' setting "MiB/s" "swapped" kept seconds "max MiB" wrote/used
declare -A best lost
for s in $settings; do best[$s]=0 lost[$s]=0; done
size=0
for rate in $rates; do
	for s in $settings; do
		[ "${lost[$s]}" = 0 ] || continue
		kept=0 times= max=0 wrote_sum=0 used_sum=0 rates_seen=
		for run in $(seq "$runs"); do
			if [ "$s" = static ]; then
				# Without morvend runs to size it: all the hog needs.
				run_static "$((size > 0 ? size : total))" "$rate" "$work/samples.$rate.$run"
			else
				run_morvend "$s" "$rate" "$work/samples.${s/\//.}.$rate.$run"
				[ "$biggest" -le "$max" ] || max=$biggest
				[ "$biggest" -le "$size" ] || size=$biggest
				wrote_sum=$((wrote_sum + wrote)) used_sum=$((used_sum + hog_swap))
			fi
			kept=$((kept + survived)) times+="$took " rates_seen+="$swapped_at "
		done
		swapped=$(echo "$rates_seen" | tr ' ' '\n' | grep . | mean)
		if [ "$s" = static ]; then
			printf '%-10s %6s %9s %6s %9s\n' "$s" "$rate" "$swapped" "$kept/$runs" \
			    "$(echo "$times" | tr ' ' '\n' | grep . | mean)"
		else
			printf '%-10s %6s %9s %6s %9s %8s %11s\n' "$s" "$rate" "$swapped" "$kept/$runs" \
			    "$(echo "$times" | tr ' ' '\n' | grep . | mean)" "$max" \
			    "$((wrote_sum / runs))/$((used_sum / runs))"
		fi
		[ "$kept" != "$runs" ] || [ "$rate" -le "${best[$s]}" ] || best[$s]=$rate
		[ "$kept" != 0 ] || lost[$s]=1
	done
done

ratio() { awk -v m="$1" -v s="${best[static]:-0}" 'BEGIN { if (s > 0) printf "%.2f", m / s; else printf "-" }'; }
echo "highest rate kept alive $runs of $runs (MiB/s):"
for s in $settings; do
	printf '  %-10s %5s  (x%s of static)\n' "$s" "${best[$s]}" "$(ratio "${best[$s]}")"
done

# One run in a picture: the first of ahead/5, ahead/1, both/1 and both/5
# that ran, at the highest rate it kept alive every time (else the lowest
# rate), its first run.
[ -n "$plot" ] || exit 0
shown=
for s in ahead/5 ahead/1 both/1 both/5; do
	[[ " $settings " != *" $s "* ]] || { shown=$s; break; }
done
[ -n "$shown" ] || { echo "survival: no ahead or both runs; no plot"; exit 0; }
rate=${best[$shown]}
[ "$rate" -gt 0 ] || rate=${rates%% *}
data=$work/samples.${shown/\//.}.$rate.1
case $shown in
ahead/*) keys="QUICK_WAIT 250, MAX_DEVICES 8, WRITE_AHEAD 1" ;;
*) keys="QUICK_WAIT 250, MAX_DEVICES 8" ;;
esac
awk 'NR > 1 && $5 != last { print } { last = $5 }' "$data" >"$work/resizes"
gnuplot <<PLOT
set terminal pngcairo size 800,450 font ",10" noenhanced
set output "$plot"
set title "hog at $rate MiB/s to $total MiB in a $limit MiB cgroup; fills $pace\nmorvend, WAIT_TIME ${shown#*/}, $keys"
set xlabel "seconds"
set ylabel "MiB"
set key bottom right
plot "$data" using 1:2 with lines lw 2 title "hog's memory", \
     "$data" using 1:(\$3 - \$4) with lines lw 2 title "free swap", \
     "$data" using 1:5 with steps lw 2 title "morvend's swap", \
     "$work/resizes" using 1:5 with points pt 7 ps 1.2 title "resize"
PLOT
echo "plot of one run: $plot"
