#!/bin/sh
# Makes the release tarball NAME-VERSION.tar.gz of the tracked files, as
# they are in the work tree, under NAME-VERSION/, and its distinfo.
# usage: port/dist.sh SOURCE_DIR NAME VERSION OUT_DIR
set -eu
source=$1 name=$2 version=$3 out=$4
tarball=$name-$version.tar.gz

cd "$source"
# A commit of the work tree's tracked files; HEAD when nothing changed.
tree=$(git stash create)
git archive --format=tar.gz --prefix="$name-$version/" \
    -o "$out/$tarball" "${tree:-HEAD}"
"$source/port/distinfo.sh" "$out/$tarball" >"$out/distinfo"
echo "$out/$tarball"
