#!/bin/sh
# cmake --install into a temporary prefix lays out the FreeBSD files, the
# manual pages pass mandoc's lint, and DIAGNOSTICS explains every message.
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
	}' core/*.cc swap/*.cc daemon/*.cc)
if [ -n "$missing" ]; then
	printf 'FAIL not in DIAGNOSTICS of morvend(8):\n%s\n' "$missing"
	exit 1
fi
