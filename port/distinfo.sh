#!/bin/sh
# The ports' distinfo of a tarball: its SHA256 and SIZE.
# usage: port/distinfo.sh TARBALL
set -eu
name=${1##*/}
if command -v sha256sum >/dev/null; then
	sum=$(sha256sum "$1" | cut -d' ' -f1)
else
	sum=$(sha256 -q "$1")
fi
printf 'TIMESTAMP = %s\n' "$(date +%s)"
printf 'SHA256 (%s) = %s\n' "$name" "$sum"
printf 'SIZE (%s) = %s\n' "$name" "$(wc -c <"$1" | tr -d ' ')"
