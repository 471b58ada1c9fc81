#!/bin/sh
# The sources keep their floors: core/ at the bottom (the record, the log,
# the scanner), swap/ above it, daemon/ on top, and the top enters swap/
# through one door.  Each header has a floor; a file includes only its own
# header and those of lower floors.  A header missing here fails too: give
# it its floor.
# usage: layers_test.sh SOURCE_DIR
cd "$1" || exit 2
floor() {
	case $1 in
	core/journal.h|core/number.h|core/unique_fd.h|core/stdio_file.h|\
	core/version.h|core/stop_flag.h) echo 0 ;;
	core/settings.h|swap/parse.h|swap/shell.h) echo 1 ;;
	swap/probe.h|swap/backing_file.h|swap/policy.h) echo 2 ;;
	swap/md_device.h|swap/file_ahead.h) echo 3 ;;
	swap/ownership.h) echo 4 ;;
	swap/swap_device.h) echo 5 ;;
	daemon/config.h|daemon/options.h|daemon/background.h|\
	daemon/stop_signal.h) echo 6 ;;
	daemon/control_loop.h) echo 7 ;;
	daemon/main.cc) echo 8 ;;
	*) echo "FAIL layers: $1 has no floor" >&2; exit 1 ;;
	esac
}
failed=0
for file in core/*.cc core/*.h swap/*.cc swap/*.h daemon/*.cc daemon/*.h; do
	case $file in
	daemon/main.cc|*.h) own=$file ;;
	*) own=${file%.cc}.h ;;
	esac
	mine=$(floor "$own") || exit 1
	for included in $(sed -n 's/^#include "\(.*\)"/\1/p' "$file"); do
		[ "$included" != "$own" ] || continue
		theirs=$(floor "$included") || exit 1
		if [ "$theirs" -ge "$mine" ]; then
			echo "FAIL layers: $file (floor $mine) includes $included (floor $theirs)"
			failed=1
		fi
		# The top knows swap/ by its door and its policy alone.
		case $file:$included in
		daemon/*:swap/swap_device.h|daemon/*:swap/policy.h) ;;
		daemon/*:swap/*)
			echo "FAIL door: $file includes $included"
			failed=1 ;;
		esac
	done
done
[ $failed = 0 ] && echo "layers: every include runs down, daemon/ enters swap/ by its door"
exit $failed
