#!/bin/sh
# The station's systemd unit as the package installs it passes systemd-analyze verify with no
# word said, its ExecStart naming this build's plcburn-cli. Skipped (77) without systemd-analyze.
# usage: station_unit.sh UNIT CLI
set -u
unit=$1 cli=$2
command -v systemd-analyze >/dev/null 2>&1 || { echo "no systemd-analyze: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$unit")
sed "s#^ExecStart=[^ ]*#ExecStart=$cli#" "$unit" >"$work/$name"
grep -q "^ExecStart=$cli --watch" "$work/$name" || { echo "FAIL: no ExecStart of plcburn-cli"; exit 1; }
# The man page comes with the package, not with the build.
systemd-analyze verify --man=no "$work/$name" >"$work/out" 2>&1
status=$?
cat "$work/out"
[ "$status" -eq 0 ] || { echo "FAIL: systemd-analyze verify: exit $status"; exit 1; }
# Unknown keys and bad values are only warned about.
[ ! -s "$work/out" ] || { echo "FAIL: systemd-analyze has warnings"; exit 1; }
echo "passed"
