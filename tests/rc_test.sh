#!/bin/sh
# The rc.d script under a stand-in rc.subr that behaves as FreeBSD's where
# the script relies on it, starting the real daemon against the simulated
# host.  Each row is an rc.conf, then service commands and what they
# print; the daemon's PID file goes to a /var/run of the test's own, in a
# mount namespace.  usage: rc_test.sh BUILD_DIR SOURCE_DIR PREFIX
# (exit 77: no mount namespace here)
set -u
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) prefix=$3
if [ -z "${MORVEND_RC_NAMESPACE:-}" ]; then
	unshare -m --propagation private true 2>/dev/null ||
	    { echo "SKIP: no mount namespace to keep /var/run apart"; exit 77; }
	MORVEND_RC_NAMESPACE=1 exec unshare -m --propagation private \
	    sh "$0" "$@"
fi
work=$(mktemp -d /tmp/morvend-rc.XXXXXX)
trap 'sh "$work/morvend" onestop >/dev/null 2>&1; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }

script="$build/rc.d/morvend"
grep -q '^# PROVIDE: morvend$' "$script" || fail "no PROVIDE"
grep -q '^# KEYWORD: .*shutdown' "$script" || fail "not stopped at shutdown"
grep -q '^# KEYWORD: .*nojail' "$script" || fail "runs in a jail"
grep -q "^command=\"$prefix/sbin/\${name}\"$" "$script" || fail "command not in $prefix/sbin"
# The stand-in rc.subr, and the daemon as built.
sed -e "s|^\. /etc/rc.subr$|. $source/tests/rc/rc.subr|" \
    -e "s|^command=.*|command=\"$build/morvend\"|" "$script" >"$work/morvend"

mkdir "$work/run" "$work/swap" "$work/my conf"
mount --bind "$work/run" /var/run || { echo "SKIP: cannot mount over /var/run"; exit 77; }
export SIMHOST_STATE="$work/host" RC_PROTECT_LOG="$work/protect"
PATH="$source/simhost/bin:$PATH"
"$source/simhost/simctl" init
# Room to spare: a daemon that missed its file grows nothing on defaults.
"$source/simhost/simctl" set foreign_total 1000
config="$work/my conf/morvend.conf"
printf 'SWAP_FILE %s\n' "$work/swap/swap0" >"$config"

pid() { cat /var/run/morvend.pid 2>/dev/null; }

# rc.conf, service command, what it prints (both streams, PID as PID).
row() {
	printf '%s' "$1" >"$work/rc.conf"
	# A file, not a pipe: the daemon keeps the streams it was given.
	RC_CONF="$work/rc.conf" sh "$work/morvend" "$2" >"$work/out" 2>&1
	status=$?
	got=$(cat "$work/out")
	p=$(pid)
	[ -z "$p" ] || got=$(printf '%s' "$got" | sed "s/$p/PID/g")
	[ "$got" = "$3" ] || fail "$2 with $1: printed
$got
--- expected
$3"
	[ "$status" = "${4:-0}" ] || fail "$2 with $1: status $status, not ${4:-0}"
}
enabled="morvend_enable=YES
morvend_config=\"$config\"
"

# Not enabled: nothing starts, unless asked with onestart.
row "" start "Cannot 'start' morvend. Set morvend_enable to YES in /etc/rc.conf or use 'onestart' instead of 'start'."
[ -z "$(pid)" ] || fail "a start that was not enabled wrote a PID file"
row "morvend_config=\"$config\"
" onestart "Starting morvend."
row "" onestatus "morvend is running as pid PID."
row "" onestop "Stopping morvend.
Waiting for PIDS: PID."

# A config path with a blank, the defaults' protection of the tools too.
: >"$work/protect"
row "$enabled" start "Starting morvend."
[ "$(tr '\0' '\n' <"/proc/$(pid)/cmdline" | tail -n 1)" = "$config" ] ||
    fail "started as: $(tr '\0' '|' <"/proc/$(pid)/cmdline")"
[ "$(cat "$work/protect")" = "protect -d -i -p $(pid)" ] ||
    fail "protected as: $(cat "$work/protect")"
row "$enabled" status "morvend is running as pid PID."
# reload (SIGHUP) and info (SIGINFO) leave it running, as it was.
row "$enabled" reload "Reloading morvend config files."
row "$enabled" info ""
sleep 0.5
row "$enabled" status "morvend is running as pid PID."
row "$enabled" start "morvend already running? (pid=PID)." 1
row "$enabled" stop "Stopping morvend.
Waiting for PIDS: PID."
row "$enabled" status "morvend is not running." 1
[ -z "$(ls "$work/swap")" ] || fail "the stop left $(ls "$work/swap")"

# A path with a command in it is a path: nothing of it runs.
odd="$work/my conf/a\$(touch ran).conf"
cp "$config" "$odd"
cd "$work"
row "morvend_enable=YES
morvend_config='$odd'
" start "Starting morvend."
[ ! -e "$work/ran" ] || fail "morvend_config was evaluated"
cd - >/dev/null
[ "$(tr '\0' '\n' <"/proc/$(pid)/cmdline" | tail -n 1)" = "$odd" ] ||
    fail "started as: $(tr '\0' '|' <"/proc/$(pid)/cmdline")"
row "$enabled" stop "Stopping morvend.
Waiting for PIDS: PID."

# With morvend_nice (sh -c "..."), a plain path starts, one with a blank
# is refused rather than cut short.
plain="$work/plain.conf"
cp "$config" "$plain"
row "morvend_enable=YES
morvend_config=\"$plain\"
morvend_nice=5
" start "Starting morvend."
[ "$(tr '\0' '\n' <"/proc/$(pid)/cmdline" | tail -n 1)" = "$plain" ] ||
    fail "started under nice as: $(tr '\0' '|' <"/proc/$(pid)/cmdline")"
row "$enabled" stop "Stopping morvend.
Waiting for PIDS: PID."
rm -f /var/run/morvend.pid
row "${enabled}morvend_nice=5
" start "$work/morvend: WARNING: morvend_config cannot pass through morvend_nice or morvend_user: use a path of letters, digits and . _ / + -
$work/morvend: WARNING: failed precmd routine for morvend" 1
[ -z "$(pid)" ] || fail "a start refused under nice wrote a PID file"

# An empty morvend_oomprotect protects nothing.
: >"$work/protect"
row "${enabled}morvend_oomprotect=\"\"
" start "Starting morvend."
[ ! -s "$work/protect" ] || fail "protected with morvend_oomprotect=\"\": $(cat "$work/protect")"
row "$enabled" stop "Stopping morvend.
Waiting for PIDS: PID."

# A missing config, and flags that would start nothing, start nothing.
rm -f /var/run/morvend.pid
row "morvend_enable=YES
morvend_config=\"$work/missing.conf\"
" start "$work/morvend: WARNING: $work/missing.conf is not readable.
$work/morvend: WARNING: failed precmd routine for morvend" 1
row "morvend_enable=YES
morvend_config=\"$work\"
" start "$work/morvend: WARNING: $work is not readable.
$work/morvend: WARNING: failed precmd routine for morvend" 1
row "${enabled}morvend_flags=\"-v\"
" start "$work/morvend: WARNING: -v in morvend_flags: set morvend_config instead of -c; -v and -h start nothing.
$work/morvend: WARNING: failed precmd routine for morvend" 1
row "${enabled}morvend_flags=\"-c /etc/other.conf\"
" start "$work/morvend: WARNING: -c in morvend_flags: set morvend_config instead of -c; -v and -h start nothing.
$work/morvend: WARNING: failed precmd routine for morvend" 1
[ -z "$(pid)" ] || fail "a refused start wrote a PID file"
exit $failed
