#!/bin/sh
# The Debian package's maintainer scripts against a fake udevadm, adduser, systemctl and
# deb-systemd-invoke: they make the station's user, reload udev's rules and trigger the PLC's
# device where udev runs, tell systemd of the unit and stop the station on removal (not on an
# upgrade) where systemd runs, and succeed where neither does.
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
# adduser and systemd's tools are there with or without udev.
for fakes in bin none; do
  for tool in adduser systemctl deb-systemd-invoke; do
    # shellcheck disable=SC2016 # $* and $LOG are the fake's
    printf '#!/bin/sh\necho "%s $*" >>"$LOG"\n' "$tool" >"$work/$fakes/$tool"
    chmod +x "$work/$fakes/$tool"
  done
done
chmod +x "$work/bin/udevadm"
# Whether systemd runs is the scripts' look at /run/systemd/system, here at a directory that is
# there or not.
mkdir "$work/systemd"
user="adduser --quiet --system --group --home /var/lib/plcburn --no-create-home plcburn"
user="$user;adduser --quiet plcburn dialout;adduser --quiet plcburn plugdev"
reload="control --reload-rules"
trigger="trigger --action=add --subsystem-match=usb --attr-match=idVendor=7e3a --attr-match=idProduct=0001"

# script | argument | PATH | systemd runs | control | trigger | calls expected, ';'-separated
while IFS='|' read -r script arg path systemd control trigger calls; do
  : >"$work/log"
  case $systemd in yes) marker=$work/systemd ;; *) marker=$work/no-systemd ;; esac
  sed "s#/run/systemd/system#$marker#g" "$dir/$script" >"$work/script"
  what="$script $arg (udevadm in $path, systemd $systemd, control $control, trigger $trigger)"
  PATH="$work/$path" LOG="$work/log" CONTROL=$control TRIGGER=$trigger \
    /bin/sh "$work/script" "$arg" || fail "$what: exit $?"
  expected=$(printf '%s' "$calls" | tr ';' '\n')
  [ "$(cat "$work/log")" = "$expected" ] || fail "$what called: $(cat "$work/log")"
  echo "ok $what"
done <<TABLE
postinst|configure|bin|no|0|0|$user;$reload;$trigger
postinst|configure|bin|no|1|0|$user;$reload
postinst|configure|bin|no|0|1|$user;$reload;$trigger
postinst|configure|none|no|0|0|$user
postinst|configure|none|yes|0|0|$user;systemctl daemon-reload
postinst|abort-upgrade|bin|yes|0|0|
prerm|remove|none|yes|0|0|deb-systemd-invoke stop plcburn-station.service
prerm|remove|none|no|0|0|
prerm|upgrade|none|yes|0|0|
prerm|deconfigure|none|yes|0|0|
postrm|remove|bin|no|0|0|$reload
postrm|remove|bin|no|1|0|$reload
postrm|remove|none|no|0|0|
postrm|remove|none|yes|0|0|systemctl daemon-reload
postrm|purge|bin|yes|0|0|
TABLE
echo "passed"
