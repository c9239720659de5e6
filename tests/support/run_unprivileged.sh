#!/bin/sh
# Runs a test binary as an unprivileged user when the tests run as root: permission bits stop everyone but the
# superuser, so the tests that rely on them prove nothing as root. The binary is copied to a folder that the
# user can reach, wherever the build lies.
# Usage: run_unprivileged.sh <test binary> [test arguments...]
set -eu
binary=$1
shift
if [ "$(id -u)" -ne 0 ]; then
  exec "$binary" "$@"
fi
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$binary" "$folder/"
chmod 755 "$folder" "$folder/$(basename "$binary")"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$folder" TMPDIR=/tmp \
  "$folder/$(basename "$binary")" "$@"
