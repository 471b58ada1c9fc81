#!/bin/sh
# The rc.d script, sourced with a stand-in rc.subr that records what the
# script gives it.  usage: rc_test.sh BUILD_DIR SOURCE_DIR PREFIX
set -eu
build=$1 source=$2 prefix=$3
work=$(mktemp -d /tmp/morvend-rc.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0

script="$build/rc.d/morvend"
grep -q '^# PROVIDE: morvend$' "$script"
grep -q '^# KEYWORD: .*shutdown' "$script" || { echo "not stopped at shutdown"; failed=1; }
grep -q '^# KEYWORD: .*nojail' "$script" || { echo "runs in a jail"; failed=1; }
sed "s|^\. /etc/rc.subr$|. $source/tests/rc/rc.subr|" "$script" >"$work/morvend"
grep -q "tests/rc/rc.subr" "$work/morvend"

# What run_rc_command is given, for: enabled, configuration, oomprotect.
given() {
	printf '%s\n' "argument=start" "name=morvend" \
	    "desc=Keep a cushion of free swap" "rcvar=morvend_enable=$1" \
	    "command=$prefix/sbin/morvend" "pidfile=/var/run/morvend.pid" \
	    "command_args=-d -p -c $2" "oomprotect=$3"
}

check() {	# what, rc.conf, expected
	printf '%s' "$2" >"$work/rc.conf"
	got=$(RC_CONF="$work/rc.conf" sh "$work/morvend" start)
	if [ "$got" != "$3" ]; then
		printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$3" "$got"
		failed=1
	fi
}

check "defaults" "" "$(given NO "$prefix/etc/morvend.conf" ALL)"
check "rc.conf settings" 'morvend_enable="YES"
morvend_config="/etc/alt.conf"
morvend_oomprotect="YES"
' "$(given YES /etc/alt.conf YES)"
exit $failed
