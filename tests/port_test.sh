#!/bin/sh
# The port, as far as Linux can check it: the release tarball holds exactly
# the tracked files under NAME-VERSION/; it builds with the port's own
# CMAKE_ARGS and CMAKE_OFF and no test framework, and a staged install,
# manuals compressed as the ports framework does, is exactly pkg-plist;
# the Makefile names the tarball, version and license that are there, and
# its rc.d script is the source tree's, with the port's own substitutions.
# usage: port_test.sh BUILD_DIR SOURCE_DIR NAME VERSION   (exit 77: skipped)
set -u
build=$1 source=$2 name=$3 version=$4
port=$source/port/sysutils/$name
git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
    { echo "SKIP: not a git work tree, no tarball to make"; exit 77; }
work=$(mktemp -d /tmp/morvend-port.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# A variable's value, its continued lines joined.
var() {
	sed -e :a -e '/\\$/N; s/[[:space:]]*\\\n[[:space:]]*/ /; ta' "$port/Makefile" |
	    sed -n "s/^$1=[[:space:]]*//p"
}

# The Makefile names what is there.
[ "$(var PORTNAME)" = "$name" ] || fail "PORTNAME $(var PORTNAME), not $name"
[ "$(var DISTVERSION)" = "$version" ] || fail "DISTVERSION $(var DISTVERSION), not $version"
[ "$(var LICENSE)" = BSD2CLAUSE ] || fail "LICENSE $(var LICENSE)"
[ "$(var CMAKE_OFF)" = "$(var CMAKE_OFF | tr ' ' '\n' | sort | paste -sd ' ' -)" ] ||
    fail "CMAKE_OFF is not sorted: $(var CMAKE_OFF)"
[ "$(var USE_RC_SUBR)" = "$name" ] || fail "USE_RC_SUBR $(var USE_RC_SUBR), not $name"
# What pkg install tells a first-time admin: UFS, the log, the service.
[ "$(var SUB_FILES)" = pkg-message ] && [ -f "$port/files/pkg-message.in" ] ||
    fail "no pkg-message through SUB_FILES"
for said in "df -T" "SYSLOG 1" "sysrc ${name}_enable=YES" "%%PREFIX%%/etc/$name.conf"; do
	grep -qF "$said" "$port/files/pkg-message.in" 2>/dev/null ||
	    fail "pkg-message does not say $said"
done
[ ! -e "$port/SUBMITTING" ] || fail "SUBMITTING is not a file of the port"
sed -e "s|@CMAKE_INSTALL_FULL_SBINDIR@|%%PREFIX%%/sbin|" \
    -e "s|@MORVEND_CONFIG_FILE@|%%PREFIX%%/etc/$name.conf|" \
    -e "s|@MORVEND_PID_FILE@|/var/run/$name.pid|" "$source/etc/rc.d/$name.in" |
    diff - "$port/files/$name.in" >/dev/null ||
    fail "files/$name.in is not etc/rc.d/$name.in with the port's substitutions"

# The tarball: the tracked files, under one directory, with its distinfo.
mkdir "$work/out" "$work/src"
sh "$source/port/dist.sh" "$source" "$name" "$version" "$work/out" >/dev/null ||
    { echo "FAIL: no tarball"; exit 1; }
tarball=$work/out/$name-$version.tar.gz
tar -xzf "$tarball" -C "$work/src"
got=$(cd "$work/src" && find . \( -type f -o -type l \) | sed "s|^\./$name-$version/||" | sort)
want=$(git -C "$source" ls-files | sort)
[ "$got" = "$want" ] || fail "the tarball is not the tracked files: $(printf '%s\n' "$got" | diff - "$(printf '%s\n' "$want" >"$work/want"; echo "$work/want")" | head -5)"
grep -q "BSD 2-Clause License" "$work/src/$name-$version/LICENSE" ||
    fail "the tarball carries no 2-clause BSD LICENSE"
grep -qx "SHA256 ($name-$version.tar.gz) = $(sha256sum "$tarball" | cut -d' ' -f1)" "$work/out/distinfo" ||
    fail "distinfo SHA256"
grep -qx "SIZE ($name-$version.tar.gz) = $(wc -c <"$tarball" | tr -d ' ')" "$work/out/distinfo" ||
    fail "distinfo SIZE"

# Built as USES=cmake builds it, staged, and compressed as the framework does.
args=$(var CMAKE_ARGS)
off=
for option in $(var CMAKE_OFF); do off="$off -D$option:BOOL=OFF"; done
cmake -S "$work/src/$name-$version" -B "$work/build" -DCMAKE_INSTALL_PREFIX=/usr/local \
    $args $off >"$work/log" 2>&1 && cmake --build "$work/build" -j2 >>"$work/log" 2>&1 &&
    DESTDIR=$work/stage cmake --install "$work/build" >>"$work/log" 2>&1 ||
    { cat "$work/log"; echo "FAIL: the port does not build"; exit 1; }
grep -q "GTest" "$work/build/CMakeCache.txt" && fail "the port build looked for GoogleTest"
find "$work/stage/usr/local/share/man" -type f -exec gzip -n -9 {} \;
staged=$(cd "$work/stage/usr/local" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
plist=$(sed 's/^@sample //' "$port/pkg-plist" | sort)
[ "$staged" = "$plist" ] || fail "staged files and pkg-plist differ:
$(printf '%s\n' "$staged" >"$work/staged"; printf '%s\n' "$plist" | diff "$work/staged" -)"
exit $failed
