#!/bin/sh
# cmake --install into a temporary prefix lays out the FreeBSD files, and
# the manual pages pass mandoc's lint.
# usage: install_test.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
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
