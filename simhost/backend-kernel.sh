# The real Linux kernel as backend for tool: a memory disk is a loop device
# over the file, activation is mkswap and the real swapon, and the totals
# are the kernel's own.  Only swap of our units is ever touched.

real_tool() {
	local dir
	for dir in /usr/sbin /sbin; do
		[ -x "$dir/$1" ] && { echo "$dir/$1"; return; }
	done
	echo "$tool: stand-in: no $1 on this machine" >&2
	exit 127
}

loop_of() {
	unit_field "$1" 3
}

# Linux says "Device or resource busy" where FreeBSD says "Device busy".
bsd_error() {
	sed -n 's/.*: \(swapon\|swapoff\) failed: //p; s/.*: \([A-Z][a-z].*\)$/\1/p' |
	    sed 's/Device or resource busy/Device busy/' | tail -n 1
}

backend_active() {
	local loop
	loop=$(loop_of "$1")
	[ -n "$loop" ] && awk -v dev="$loop" '$1 == dev { found = 1 } END { exit !found }' /proc/swaps
}

backend_attach() {	# file, unit, size
	local loop
	loop=$("$(real_tool losetup)" --find --show -- "$1" 2>/dev/null) ||
	    fail "ioctl(/dev/mdctl): Cannot allocate memory"
	printf '%s\n%s\n%s\n' "$1" "$3" "$loop" >"$state/md/$2"
}

backend_detach() {
	"$(real_tool losetup)" -d "$(loop_of "$1")" 2>/dev/null ||
	    fail "ioctl(/dev/mdctl): Device busy"
	rm -f "$state/md/$1.linger"
}

backend_swapon() {	# device, unit
	local loop err
	loop=$(loop_of "$2")
	err=$({ "$(real_tool mkswap)" -q "$loop" >/dev/null &&
	    "$(real_tool swapon)" "$loop"; } 2>&1) ||
	    fail "$1: $(printf '%s\n' "$err" | bsd_error)"
}

backend_swapoff() {	# device, unit
	local err
	err=$("$(real_tool swapoff)" "$(loop_of "$2")" 2>&1) ||
	    fail "$1: $(printf '%s\n' "$err" | bsd_error)"
}

# The kernel's swap areas as FreeBSD would list them: ours as mdN, sized as
# FreeBSD sizes a device (its file in whole pages; Linux keeps one page for
# the mkswap header), the others under their own names.
backend_swap_devices() {
	local f unit name size
	declare -A md_of size_of
	for f in "$state"/md/*; do
		case ${f##*/} in *.*|"*") continue ;; esac
		unit=${f##*/}
		# This kernel has no geli: NAME.eli is the same loop device.
		md_of[$(loop_of "$unit")]=$(swap_name "$unit")
		size_of[$(loop_of "$unit")]=$(( $(unit_field "$unit" 2) / PAGE * PAGE ))
	done
	while read -r name _ size used _; do
		if [ -n "${md_of[$name]:-}" ]; then
			echo "${md_of[$name]} ${size_of[$name]} $((used * 1024))"
		else
			echo "${name##*/} $((size * 1024)) $((used * 1024))"
		fi
	done < <(awk 'NR > 1' /proc/swaps)
}
