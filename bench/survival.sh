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
# --fill-mbps "N ...", morvend's large writes (its fills) go at N MB/s, as
# on a disk with no dirty buffers left (bench/pace_writes.c), each rate of
# the list in turn.  --sustained is the scenario of growth that goes on:
# 1536 MiB, both/5, ahead/5 and static, fills at 100 and 200 MB/s, rates
# 50 to 200.  One process samples the run (bench/sampler.c).
#
# usage: bench/survival.sh [--build DIR] [--total MIB] [--limit MIB]
#            [--rates "R ..."] [--runs N] [--settings "S ..."]
#            [--fill-mbps "N ..."] [--sustained] [--plot FILE.png] [--dry-run]
# Needs root, a v1 or v2 memory cgroup, free loop devices and no swap in
# service; otherwise it says why and exits 0 without a figure.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build total=384 limit=64 rates="25 50 100 200 400 800 1600"
runs=3 plot= dry_run=0 fills=""
settings="today/1 today/5 quick/1 quick/5 devices/1 devices/5 both/1 both/5 ahead/1 ahead/5 static"

usage() {
	echo "usage: bench/survival.sh [--build DIR] [--total MIB] [--limit MIB]" >&2
	echo "           [--rates \"R ...\"] [--runs N] [--settings \"S ...\"]" >&2
	echo "           [--fill-mbps \"N ...\"] [--sustained] [--plot FILE.png] [--dry-run]" >&2
	exit 2
}
whole() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }
while [ $# -gt 0 ]; do
	case $1 in --dry-run|--sustained) ;; *) [ $# -ge 2 ] || usage ;; esac
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
	--fill-mbps) fills=$2
		[ -n "$fills" ] || usage
		for f in $fills; do whole "$f" || usage; done ;;
	--sustained)
		total=1536 settings="both/5 ahead/5 static" fills="100 200"
		rates="50 100 150 200"
		shift; continue ;;
	--plot) [[ $2 == *.png ]] || usage; plot=$2 ;;
	--dry-run) dry_run=1; shift; continue ;;
	*) usage ;;
	esac
	shift 2
done
[ "$limit" -lt "$total" ] || { echo "survival: the limit must be below the total, or no swap is needed" >&2; exit 2; }

echo "hog: $total MiB at each of $rates MiB/s, in a cgroup of $limit MiB"
echo "settings: $settings; $runs run(s) each${plot:+; plot of one run in $plot}"
pace_of() { if [ "$1" = cache ]; then echo "at page-cache speed"; else echo "paced at $1 MB/s"; fi; }
fills=${fills:-cache}
echo "morvend's fills: $(for f in $fills; do pace_of "$f"; done | paste -sd ';' | sed 's/;/, then /g')"
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
for program in morvend tests/morvend_hog tests/morvend_sampler; do
	[ -x "$build/$program" ] || cannot "no $build/$program: build first"
done
pacer=$build/tests/libmorvend_pace_writes.so
[ "$fills" = cache ] || [ -f "$pacer" ] || cannot "no $pacer: build first"
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
		PATH=$tools:$PATH swapoff "/dev/md${f##*/}" 2>/dev/null ||
		    PATH=$tools:$PATH swapoff "/dev/md${f##*/}.eli" 2>/dev/null
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

# Runs the hog at a rate in the cgroup, with samples to a file; sets
# survived (0 or 1), took (seconds of growth), hog_swap (largest MiB
# swapped), swapped_at (MiB/s at which the hog's memory went to swap: from
# its first page swapped to the most it had there), least (the least free
# swap seen, MiB) and started (when the hog started, epoch seconds).
run_hog() {	# rate samples
	local status deadline
	started=$EPOCHREALTIME
	sh -c 'echo $$ >"$1/cgroup.procs" && exec "$2" "$3" "$4"' sh "$group" \
	    "$build/tests/morvend_hog" "$total" "$1" >"$work/hog.out" 2>&1 &
	hog=$!
	"$build/tests/morvend_sampler" "$hog" >"$2" 2>>"$work/sampler.cost" &
	sampler=$!
	deadline=$((60 + 20 * total / $1))
	sleep "$deadline" &
	local watchdog=$!
	# A hog stuck past its deadline counts as lost; waiting on the shell's
	# own children polls nothing.  The shell's "Killed" notices go too.
	wait -n "$hog" "$watchdog" 2>/dev/null
	kill -KILL "$hog" "$watchdog" 2>/dev/null
	wait "$hog" 2>/dev/null
	status=$?
	wait "$watchdog" "$sampler" 2>/dev/null
	hog= sampler=
	survived=$((status == 0))
	took=$(cat "$work/hog.out")
	[ $survived = 1 ] || took=-
	hog_swap=$(awk '$5 > m { m = $5 } END { print m - 0 }' "$2")
	swapped_at=$(awk '$5 > 0 && t0 == "" { t0 = $1 }
	    $5 > m { m = $5; t = $1 }
	    END { if (t > t0) printf "%.0f", m / (t - t0); else print "-" }' "$2")
	least=$(awk '$3 > 0 && (l == "" || $3 - $4 < l) { l = $3 - $4 }
	    END { print (l == "" ? "-" : l) }' "$2")
}

# For each grow after the hog started: ms from the look that called for it
# (the probe before its mdconfig -a) to its device serving (swapon done).
grow_times() {	# since
	awk -v since="$1" '
	    $2 == "swapctl" && $3 == "-s" { looked = $1 }
	    $2 == "mdconfig" && $3 == "-a" && looked >= since { asked = looked }
	    $2 == "served" && asked != "" { printf "%.0f\n", ($1 - asked) * 1000; asked = "" }
	' "$SIMHOST_STATE/timed_log"
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
	local preload= mbps=
	[ "$fill" = cache ] || preload=$pacer mbps=$fill
	PATH=$tools:$PATH LD_PRELOAD=$preload PACE_WRITES_MBPS=$mbps \
	    "$build/morvend" -c "$work/morvend.conf" >/dev/null 2>&1 &
	daemon=$!
	for _ in $(seq 300); do
		[ "$(awk 'NR > 1' /proc/swaps | wc -l)" -gt 0 ] && break
		sleep 0.1
	done
	# The next step's file, 256 MiB by default, written whole: every block
	# of it on disk, which its size alone does not say.
	if [ "${1%/*}" = ahead ]; then
		for _ in $(seq 600); do
			[ "$(stat -c '%s %b' "$work/swap/swap0.ahead" 2>/dev/null |
			    awk '{ print ($1 == 256 * 2^20 && $2 * 512 >= $1) }')" = 1 ] && break
			sleep 0.1
		done
	fi
	run_hog "$2" "$3"
	grow_times "$started" >"$3.grows"
	wrote=$(awk '/^wchar/ { print int($2 / 1048576) }' "/proc/$daemon/io")
	biggest=$(awk '$3 > m { m = $3 } END { print m - 0 }' "$3")
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
least_of() { awk '$1 != "-" && (l == "" || $1 < l) { l = $1 } END { print (l == "" ? "-" : l) }'; }
# The median and the worst of the grows' times, "-" for none.
med_worst() { sort -n | awk '{ v[NR] = $1 } END { if (NR) printf "%d/%d", v[int((NR + 1) / 2)], v[NR]; else printf "-" }'; }
ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "-" && b != "-" && b > 0) printf "%.2f", a / b; else printf "-" }'; }

printf '%-10s %5s %6s %8s %5s %8s %7s %6s %11s %8s %11s\n' setting fill "MiB/s" swapped kept seconds "x static" least "grow ms" "max MiB" wrote/used
declare -A best lost
size=0
for fill in $fills; do
for s in $settings; do best[$fill.$s]=0 lost[$fill.$s]=0; done
for rate in $rates; do
	# Static last, as large as the most morvend held so far; each row is
	# printed once static's time at this rate is known.
	declare -A row_of=() took_of=()
	for s in $settings; do
		[ "${lost[$fill.$s]}" = 0 ] || continue
		kept=0 times= max=0 wrote_sum=0 used_sum=0 rates_seen= leasts=
		: >"$work/grows"
		for run in $(seq "$runs"); do
			samples=$work/samples.$fill.${s/\//.}.$rate.$run
			if [ "$s" = static ]; then
				# Without morvend runs to size it: all the hog needs.
				run_static "$((size > 0 ? size : total))" "$rate" "$samples"
			else
				run_morvend "$s" "$rate" "$samples"
				cat "$samples.grows" >>"$work/grows"
				[ "$biggest" -le "$max" ] || max=$biggest
				[ "$biggest" -le "$size" ] || size=$biggest
				wrote_sum=$((wrote_sum + wrote)) used_sum=$((used_sum + hog_swap))
			fi
			kept=$((kept + survived)) times+="$took " rates_seen+="$swapped_at " leasts+="$least "
		done
		swapped=$(echo "$rates_seen" | tr ' ' '\n' | grep . | mean)
		took_of[$s]=$(echo "$times" | tr ' ' '\n' | grep . | mean)
		row_of[$s]="$(printf '%5s %6s %8s %5s %8s' "$fill" "$rate" "$swapped" "$kept/$runs" "${took_of[$s]}")|$(
		    printf '%6s' "$(echo "$leasts" | tr ' ' '\n' | grep . | least_of)")"
		[ "$s" = static ] ||
		    row_of[$s]+="$(printf ' %11s %8s %11s' "$(med_worst <"$work/grows")" "$max" \
		        "$((wrote_sum / runs))/$((used_sum / runs))")"
		[ "$kept" != "$runs" ] || [ "$rate" -le "${best[$fill.$s]}" ] || best[$fill.$s]=$rate
		[ "$kept" != 0 ] || lost[$fill.$s]=1
	done
	for s in $settings; do
		[ -n "${row_of[$s]:-}" ] || continue
		printf '%-10s %s %7s %s\n' "$s" "${row_of[$s]%%|*}" \
		    "$(ratio_of "${took_of[$s]}" "${took_of[static]:--}")" "${row_of[$s]#*|}"
	done
done
done
[ ! -s "$work/sampler.cost" ] ||
    awk '{ n += $2; s += $5; cpu += $7 } END { if (s > 0) printf "sampler: %d samples, %.1f ms of CPU a second sampled (%.2f %% of one core)\n", n, cpu / s, cpu / s / 10 }' "$work/sampler.cost"

echo "highest rate kept alive $runs of $runs (MiB/s):"
for fill in $fills; do
	for s in $settings; do
		printf '  %-10s %-6s %5s  (x%s of static)\n' "$s" "$fill" "${best[$fill.$s]}" \
		    "$(ratio_of "${best[$fill.$s]}" "${best[$fill.static]:-0}")"
	done
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
fill=${fills%% *}
rate=${best[$fill.$shown]}
[ "$rate" -gt 0 ] || rate=${rates%% *}
pace=$(pace_of "$fill")
data=$work/samples.$fill.${shown/\//.}.$rate.1
case $shown in
ahead/*) keys="QUICK_WAIT 250, MAX_DEVICES 8, WRITE_AHEAD 1" ;;
*) keys="QUICK_WAIT 250, MAX_DEVICES 8" ;;
esac
awk 'NR > 1 && $3 != last { print } { last = $3 }' "$data" >"$work/resizes"
gnuplot <<PLOT
set terminal pngcairo size 800,450 font ",10" noenhanced
set output "$plot"
set title "hog at $rate MiB/s to $total MiB in a $limit MiB cgroup; fills $pace\nmorvend, WAIT_TIME ${shown#*/}, $keys"
set xlabel "seconds"
set ylabel "MiB"
set key bottom right
plot "$data" using 1:2 with lines lw 2 title "hog's memory", \
     "$data" using 1:(\$3 - \$4) with lines lw 2 title "free swap", \
     "$data" using 1:3 with steps lw 2 title "morvend's swap", \
     "$work/resizes" using 1:3 with points pt 7 ps 1.2 title "resize"
PLOT
echo "plot of one run: $plot"
