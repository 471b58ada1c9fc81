# The simulated host's backend for tool: units, activation and totals are
# files in $state, the load is what the test sets.

backend_active() {
	[ -e "$state/md/$1.swap" ]
}

backend_attach() {	# file, unit, size
	printf '%s\n%s\n' "$1" "$3" >"$state/md/$2"
	# The device holds the file open: its space outlives the file's name.
	ln "$1" "$state/md/$2.data" 2>/dev/null || true
}

backend_detach() {
	rm -f "$state/md/$1.data" "$state/md/$1.linger"
}

backend_swapon() {
	: >"$state/md/$2.swap"
}

# FreeBSD pages the device back in first and refuses without room for it.
backend_swapoff() {	# device, unit
	local total=0 used=0 name size in_use free_pages
	while read -r name size in_use; do
		[ -n "$name" ] || continue
		total=$((total + size)) used=$((used + in_use))
	done <<<"$(backend_swap_devices)"
	free_pages=$(( $(knob free_ram 1024) * MiB / PAGE + (total - used) / PAGE ))
	if [ "$free_pages" -lt $(( $(unit_field "$2" 2) / PAGE + 128 )) ]; then
		fail "$1: Cannot allocate memory"
	fi
	rm -f "$state/md/$2.swap"
}

# The devices in service, in activation order: name, bytes, bytes in use.
# Other software's swap is one disk partition.  Use that a test pinned on
# a device (use/UNIT, MiB) is counted first; the rest of the load fills the
# other areas in order.
backend_swap_devices() {
	local left size f unit in_use name
	left=$(( $(knob used 0) * MiB ))
	for f in "$state"/use/*; do
		[ -e "$f" ] && left=$(( left - $(cat "$f") * MiB ))
	done
	[ "$left" -ge 0 ] || left=0
	size=$(( $(knob foreign_total 0) * MiB ))
	if [ "$size" -gt 0 ]; then
		name=ada0p3
		[ "$(knob foreign_eli 0)" = 0 ] || name=ada0p3.eli
		echo "$name $size $(( left < size ? left : size ))"
		left=$(( left < size ? 0 : left - size ))
	fi
	for f in $(ls -1tr "$state/md" 2>/dev/null); do
		case $f in *.swap) ;; *) continue ;; esac
		unit=${f%.swap}
		size=$(( $(unit_field "$unit" 2) / PAGE * PAGE ))
		if [ -e "$state/use/$unit" ]; then
			in_use=$(( $(cat "$state/use/$unit") * MiB ))
			echo "$(swap_name "$unit") $size $(( in_use < size ? in_use : size ))"
			continue
		fi
		echo "$(swap_name "$unit") $size $(( left < size ? left : size ))"
		left=$(( left < size ? 0 : left - size ))
	done
}
