#!/bin/sh
# cmake --install into a temporary prefix lays out the FreeBSD files, the
# manual pages pass mandoc's lint, and the sources keep their layers.
# usage: install_test.sh BUILD_DIR VERSION SOURCE_DIR
set -eu
build=$1
version=$2
source=$3
dest=$(mktemp -d /tmp/morvend-install.XXXXXX)
trap 'rm -rf "$dest"' EXIT

cmake --install "$build" --prefix "$dest" >/dev/null
got=$(cd "$dest" && find . -type f | sort)
expected="./etc/morvend.conf.sample
./etc/rc.d/morvend
./sbin/morvend
./share/man/man5/morvend.conf.5
./share/man/man8/morvend.8"
if [ "$got" != "$expected" ]; then
	printf 'FAIL layout\n--- expected\n%s\n--- got\n%s\n' "$expected" "$got"
	exit 1
fi
[ -x "$dest/sbin/morvend" ] && [ -x "$dest/etc/rc.d/morvend" ]
"$dest/sbin/morvend" -v | grep -qx "Morvend -- version $version"

# Style notes about FreeBSD manuals missing on this host are not faults.
lint=$(mandoc -T lint -W warning "$dest/share/man/man8/morvend.8" \
    "$dest/share/man/man5/morvend.conf.5" 2>&1) || true
if [ -n "$lint" ]; then
	printf 'FAIL mandoc lint\n%s\n' "$lint"
	exit 1
fi

# Every message the daemon can write is explained in DIAGNOSTICS: each
# format in the code, its conversions read as any words, is on a line there.
MORVEND_DIAGNOSTICS=$(mandoc -T ascii -O width=400 "$dest/share/man/man8/morvend.8" |
    sed -e 's/.\x08//g' -n -e '/^DIAGNOSTICS/,/^SEE ALSO/p')
export MORVEND_DIAGNOSTICS
missing=$(cd "$source" && perl -0777 -ne '
	while (/\b(complain|journal_tell|journal_failure)\s*\(([^;{]*?)\)\s*;/sg) {
		my ($call, $args) = ($1, $2);
		next unless $args =~ /((?:"(?:[^"\\]|\\.)*"\s*)+)/s;
		my $format = join "", $1 =~ /"((?:[^"\\]|\\.)*)"/g;
		$format =~ s/\\(.)/$1/g;
		$format = "morvend: $format" if $call eq "complain";
		my $pattern = join "[^\n]+", map { quotemeta }
		    split /%[-+ #0-9.]*(?:ll|l|z|h)?[a-z]/, $format, -1;
		print "$format\n" unless $ENV{MORVEND_DIAGNOSTICS} =~ /$pattern/;
	}' core/*.cc swap/*.cc)
if [ -n "$missing" ]; then
	printf 'FAIL not in DIAGNOSTICS of morvend(8):\n%s\n' "$missing"
	exit 1
fi

# Each header has a floor; a file includes only its own header and those of
# lower floors.  A header missing here fails too: give it its floor.
floor() {
	case $1 in
	core/journal.h|core/number.h|core/unique_fd.h|core/stdio_file.h|core/version.h|\
	core/stop_flag.h) echo 0 ;;
	core/settings.h|swap/parse.h|swap/shell.h) echo 1 ;;
	swap/probe.h|swap/backing_file.h|swap/policy.h) echo 2 ;;
	swap/md_device.h|swap/file_ahead.h) echo 3 ;;
	swap/ownership.h) echo 4 ;;
	swap/swap_device.h) echo 5 ;;
	core/config.h|core/options.h|core/background.h|core/stop_signal.h) echo 6 ;;
	core/control_loop.h) echo 7 ;;
	core/main.cc) echo 8 ;;
	*) echo "FAIL layers: $1 has no floor" >&2; exit 1 ;;
	esac
}
cd "$source"
for file in core/*.cc core/*.h swap/*.cc swap/*.h; do
	case $file in
	core/main.cc|*.h) own=$file ;;
	*) own=${file%.cc}.h ;;
	esac
	mine=$(floor "$own")
	for included in $(sed -n 's/^#include "\(.*\)"/\1/p' "$file"); do
		[ "$included" != "$own" ] || continue
		theirs=$(floor "$included")
		if [ "$theirs" -ge "$mine" ]; then
			echo "FAIL layers: $file (floor $mine) includes $included (floor $theirs)"
			exit 1
		fi
	done
done
