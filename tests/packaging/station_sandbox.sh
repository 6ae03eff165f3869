#!/bin/sh
# The station's unit lets every option it runs with do its work: the options of its ExecStart
# and every option station.conf documents for OPTIONS have a row below saying what they need,
# and the unit's sandbox allows it, and no address family that none of them needs. systemd does
# not run here (no systemd-run), so the unit's settings are read, not tried. Then each mutation
# in the second table must fail the check, so that the check is known to bite.
# usage: station_sandbox.sh UNIT STATION_CONF CLI
set -u
unit=$1 conf=$2 cli=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# option | address families | paths read | paths written | groups
# plcburn-cli is the program whatever its options. Paths stand for where a plant keeps such a
# file: station.conf's example, and a home the user plcburn may read.
needs='plcburn-cli||/etc/plcburn/trusted-keys||
--watch|AF_NETLINK|/sys/bus/usb /run/udev/data|/dev/ttyUSB0 /dev/bus/usb/001/002|dialout plugdev
--log|||/var/lib/plcburn/burns.jsonl|
--no-log||||
--image||/srv/firmware/VL_v190.bin /home/plant/VL_v190.bin||
--model||||
--images||/srv/firmware||
--trusted-key||/etc/plcburn/plant.pub /srv/firmware/plant.pub||
--require-model||||
--replug-timeout||||
--unplug-debounce||||
--now||||
--scanner||/dev/input/by-id/usb-Scanner_Co_Scanner-event-kbd||
--scan-timeout||||
--require-serial||||
--json||||
--metrics|AF_INET AF_INET6 AF_UNIX|||
--records-db|AF_INET AF_INET6 AF_UNIX|/etc/plcburn/pgpass /run/postgresql|/var/lib/plcburn/burns.jsonl.sent|'
# (AF_UNIX: a host name for ADDRESS is looked up through nscd or systemd-resolved; a database
# on the station's own PC is reached through its socket in /run/postgresql.)

# The values of KEY in the [Service] of the unit last read by service(), one per assignment.
service() { awk '/^\[/ { on = ($0 == "[Service]") } on && /^[A-Za-z]+=/' "$1" >"$work/service"; }
values() {
  while IFS= read -r line; do
    case $line in "$1="*) printf '%s\n' "${line#*=}" ;; esac
  done <"$work/service"
}
last() { values "$1" | { value=""; while read -r line; do value=$line; done; echo "$value"; }; }
yes_() { case $(last "$1") in yes | true | on | 1) return 0 ;; esac; return 1; }
# The value's paths without systemd's -/+ prefixes and :options (ReadWritePaths=-/x, /y:ro).
paths() {
  # shellcheck disable=SC2046 # the words of every value
  for word in $(values "$1"); do
    word=${word#[-+]}
    word=${word#[-+]}
    case $word in /*) echo "${word%%:*}" ;; esac
  done
}
# The length of the longest of the directories (stdin) that PATH is in, 0 for none.
deepest() {
  best=0
  while read -r dir; do
    dir=${dir%/}
    case $1/ in "$dir"/*) [ "${#dir}" -ge "$best" ] && best=$((${#dir} + 1)) ;; esac
  done
  echo "$best"
}

# Where the unit hides the file system, keeps it read-only, and lets it be written.
places() {
  {
    yes_ PrivateTmp && printf '%s\n' /tmp /var/tmp
    case $(last ProtectHome) in
      yes | true | tmpfs) printf '%s\n' /home /root /run/user ;;
    esac
    if yes_ PrivateDevices || values DevicePolicy | grep -qE 'closed|strict'; then
      echo /dev
    fi
    paths InaccessiblePaths
    paths TemporaryFileSystem
  } >"$work/hidden"
  {
    case $(last ProtectSystem) in
      strict) echo / ;;
      full) printf '%s\n' /usr /boot /efi /etc ;;
      yes | true) printf '%s\n' /usr /boot /efi ;;
    esac
    [ "$(last ProtectHome)" = read-only ] && printf '%s\n' /home /root /run/user
    yes_ ProtectKernelTunables && printf '%s\n' /sys /proc/sys
    yes_ ProtectControlGroups && echo /sys/fs/cgroup
    paths ReadOnlyPaths
  } >"$work/readonly"
  {
    # ProtectSystem=strict leaves the API file systems and the unit's own directories writable.
    printf '%s\n' /dev /proc /sys
    for kind in State:/var/lib Cache:/var/cache Logs:/var/log Runtime:/run; do
      # shellcheck disable=SC2046 # the words of every value
      for name in $(values "${kind%%:*}Directory"); do echo "${kind#*:}/$name"; done
    done
    paths ReadWritePaths
  } >"$work/writable"
}

# What of OPTION's need to read or write PATH the unit's places forbid, or nothing.
path_problem() { # OPTION reads|writes PATH
  [ "$(deepest "$3" <"$work/hidden")" -eq 0 ] || { echo "$1 $2 $3: the unit hides it"; return; }
  [ "$2" = writes ] || return 0
  # The deeper setting wins; read-only, of two as deep.
  readonly_at=$(deepest "$3" <"$work/readonly")
  [ "$readonly_at" -eq 0 ] || [ "$(deepest "$3" <"$work/writable")" -gt "$readonly_at" ] ||
    echo "$1 $2 $3: the unit keeps it read-only"
}

# The address families the unit allows ("allow F..."), forbids ("deny F...") or "all", from its
# RestrictAddressFamilies in order: a later list adds to the first's kind or takes from it.
families() {
  mode=all list=""
  while read -r value; do
    case $value in
      "") mode=all list="" ;;
      none) mode=allow list="" ;;
      *)
        kind=allow
        case $value in "~"*) kind=deny value=${value#\~} ;; esac
        if [ "$mode" = all ]; then mode=$kind; fi
        for f in $value; do
          # shellcheck disable=SC2086 # a word a line
          list=$(printf '%s\n' $list | grep -vx -- "$f")
          [ "$kind" != "$mode" ] || list="$list $f"
        done
        ;;
    esac
  done
  # shellcheck disable=SC2086 # one space between the words
  echo "$mode" $list
}

# Prints every contradiction between UNIT and the needs of the options it runs with.
check() { # UNIT
  service "$1"
  {
    echo plcburn-cli
    values ExecStart | grep -o -- '--[a-z][a-z-]*'
    grep -o -- '--[a-z][a-z-]*' "$conf"
  } | sort -u >"$work/options"
  # shellcheck disable=SC2046 # the mode, then the families, as words
  set -- $(values RestrictAddressFamilies | families)
  mode=$1
  shift
  allowed=" $* "
  groups=" $(values Group) $(values SupplementaryGroups | tr "\n" " ") "
  needed=" "
  places
  # What keeps the plant's network from the station.
  reach=""
  if yes_ PrivateNetwork; then reach="PrivateNetwork=yes"; fi
  [ -z "$(values IPAddressDeny)" ] || reach="$reach IPAddressDeny"
  while read -r option; do
    row=$(printf '%s\n' "$needs" | while IFS= read -r line; do
      case $line in "$option|"*) echo "$line" ;; esac
    done)
    [ -n "$row" ] || { echo "$option has no row here: say what it needs"; continue; }
    case $option:$help in
      plcburn-cli:* | *" $option "*) ;;
      *) echo "$option is no option of plcburn-cli" ;;
    esac
    IFS='|' read -r _ option_families reads writes option_groups <<ROW
$row
ROW
    for f in $option_families; do
      needed="$needed$f "
      case $mode:$allowed in
        allow:*" $f "* | all:* | deny:*) ;;
        *) echo "$option needs $f: RestrictAddressFamilies allows$allowed" ;;
      esac
      case $mode:$allowed in
        deny:*" $f "*) echo "$option needs $f: RestrictAddressFamilies=~$f" ;;
      esac
      case $f:$reach in AF_INET*:?*) echo "$option needs $f: $reach" ;; esac
    done
    for p in $reads; do path_problem "$option" reads "$p"; done
    for p in $writes; do path_problem "$option" writes "$p"; done
    for g in $option_groups; do
      case $groups in *" $g "*) ;; *) echo "$option needs the group $g" ;; esac
    done
  done <"$work/options"
  # And nothing more than the options need.
  [ "$mode" = allow ] || echo "RestrictAddressFamilies must list the families the options need"
  for f in $allowed; do
    case $mode:$needed in
      deny:* | *" $f "*) ;;
      *) echo "RestrictAddressFamilies allows $f, which no option needs" ;;
    esac
  done
}

# The help's words, for the options it knows.
"$cli" --help >"$work/help" || { echo "FAIL: $cli --help: exit $?"; exit 1; }
help=" $(tr -s ' \n,=[]|' '        ' <"$work/help") "
check "$unit" >"$work/problems"
cat "$work/problems"
[ ! -s "$work/problems" ] || { echo "FAIL: the unit forbids what its options need"; exit 1; }
echo "ok: $(tr '\n' ' ' <"$work/options")"

# the unit or station.conf | sed expression on it | a word of the problem it must cause
station_conf=$conf
while IFS='|' read -r file edit expected; do
  conf=$station_conf
  cp "$unit" "$work/mutant"
  if [ "$file" = unit ]; then sed "$edit" "$unit" >"$work/mutant"; else
    sed "$edit" "$station_conf" >"$work/mutant.conf"
    conf=$work/mutant.conf
  fi
  check "$work/mutant" >"$work/problems"
  grep -q -- "$expected" "$work/problems" ||
    { printf "FAIL: %s '%s' goes unnoticed\n" "$file" "$edit"; exit 1; }
  printf 'ok, noticed: %s %s\n' "$file" "$edit"
done <<'MUTATIONS'
unit|/^RestrictAddressFamilies=/s/ AF_INET6*//g|--metrics needs AF_INET
unit|s/^RestrictAddressFamilies=.*/&\nRestrictAddressFamilies=~AF_INET6/|--metrics needs AF_INET6
unit|s/^RestrictAddressFamilies=.*/& AF_PACKET/|allows AF_PACKET
unit|/^RestrictAddressFamilies=/d|must list the families
unit|s/^ProtectHome=.*/ProtectHome=yes/|--image reads /home
unit|s/^StateDirectory=.*/ReadWritePaths=\/var\/log/|--log writes
unit|s/^ProtectSystem=.*/&\nReadOnlyPaths=\/var\/lib\/plcburn/|--log writes
unit|s/^ProtectSystem=.*/&\nReadOnlyPaths=\/var\/lib\/plcburn\/burns.jsonl.sent/|--records-db writes
unit|s/^ProtectSystem=.*/&\nInaccessiblePaths=\/run\/postgresql/|--records-db reads /run/postgresql
unit|s/^NoNewPrivileges=.*/&\nPrivateDevices=yes/|--watch writes /dev
unit|s/^NoNewPrivileges=.*/&\nPrivateNetwork=yes/|PrivateNetwork
unit|s/^NoNewPrivileges=.*/&\nIPAddressDeny=any/|IPAddressDeny
unit|s/^SupplementaryGroups=.*/SupplementaryGroups=dialout/|group plugdev
conf|s/^OPTIONS=$/OPTIONS=--port ttyUSB0/|--port has no row
MUTATIONS
echo "passed"
