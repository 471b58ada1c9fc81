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
	rm -f "$state/md/$1.data"
}

backend_swapon() {
	: >"$state/md/$2.swap"
}

# FreeBSD pages the device back in first and refuses without room for it.
backend_swapoff() {	# device, unit
	local total used free_pages
	read -r total used <<<"$(backend_swap_bytes)"
	free_pages=$(( $(knob free_ram 1024) * MiB / PAGE + (total - used) / PAGE ))
	if [ "$free_pages" -lt $(( $(unit_field "$2" 2) / PAGE + 128 )) ]; then
		fail "$1: Cannot allocate memory"
	fi
	rm -f "$state/md/$2.swap"
}

# Bytes of swap in service and in use, the way the kernel sums them.
backend_swap_bytes() {
	local total used f unit
	total=$(( $(knob foreign_total 0) * MiB ))
	for f in "$state"/md/*.swap; do
		[ -e "$f" ] || continue
		unit=${f##*/}
		unit=${unit%.swap}
		total=$(( total + $(unit_field "$unit" 2) / PAGE * PAGE ))
	done
	used=$(( $(knob used 0) * MiB ))
	[ "$used" -le "$total" ] || used=$total
	echo "$total $used"
}
