#!/bin/sh
# The Debian package's postinst and postrm against a fake udevadm and adduser: they make the
# station's user, reload udev's rules and trigger the PLC's device where udev runs, and succeed
# where it does not.
# usage: maintainer_scripts.sh DEBIAN_DIR
set -u
dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A udevadm whose "control" exits $CONTROL and "trigger" $TRIGGER, logging its calls.
mkdir "$work/bin" "$work/none"
cat >"$work/bin/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >>"$LOG"
case $1 in control) exit "$CONTROL" ;; trigger) exit "$TRIGGER" ;; esac
FAKE
# adduser and systemctl are there with or without udev; systemctl is called only where systemd
# runs, which differs between machines, so it is not logged.
for fakes in bin none; do
  cat >"$work/$fakes/adduser" <<'FAKE'
#!/bin/sh
echo "adduser $*" >>"$LOG"
FAKE
  printf '#!/bin/sh\nexit 0\n' >"$work/$fakes/systemctl"
done
chmod +x "$work/bin/udevadm" "$work"/*/adduser "$work"/*/systemctl
user="adduser --quiet --system --group --home /var/lib/plcburn --no-create-home plcburn"
user="$user;adduser --quiet plcburn dialout;adduser --quiet plcburn plugdev"
reload="control --reload-rules"
trigger="trigger --action=add --subsystem-match=usb --attr-match=idVendor=7e3a --attr-match=idProduct=0001"

# script | argument | PATH | control | trigger | calls expected, ';'-separated
while IFS='|' read -r script arg path control trigger calls; do
  : >"$work/log"
  PATH="$work/$path" LOG="$work/log" CONTROL=$control TRIGGER=$trigger \
    /bin/sh "$dir/$script" "$arg" || fail "$script $arg ($path, $control, $trigger): exit $?"
  expected=$(printf '%s' "$calls" | tr ';' '\n')
  [ "$(cat "$work/log")" = "$expected" ] ||
    fail "$script $arg ($path, $control, $trigger) called: $(cat "$work/log")"
  echo "ok $script $arg, udevadm in $path, control $control, trigger $trigger"
done <<TABLE
postinst|configure|bin|0|0|$user;$reload;$trigger
postinst|configure|bin|1|0|$user;$reload
postinst|configure|bin|0|1|$user;$reload;$trigger
postinst|configure|none|0|0|$user
postinst|abort-upgrade|bin|0|0|
postrm|remove|bin|0|0|$reload
postrm|remove|bin|1|0|$reload
postrm|remove|none|0|0|
postrm|purge|bin|0|0|
TABLE
echo "passed"
