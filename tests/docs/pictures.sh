#!/bin/sh
# The pictures the README, the troubleshooting guide and the station's guide show: each path
# they name is there and is a PNG, each window picture has its window's size, and the README shows
# both windows (the prefixes ending in "-") idle, mid-burn and at the success box.
# usage: pictures.sh SOURCE_DIR PREFIX=WIDTHxHEIGHT...   (e.g. linux-=528x166 station=1280x800)
set -u
root=$1
shift
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# Width and height from the PNG header's IHDR chunk.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4,
                                               $5*16777216+$6*65536+$7*256+$8 }'
}

for doc in README.md docs/troubleshooting.md docs/station.md; do
  dir=$(dirname "$doc")
  paths=$(grep -o '!\[[^]]*\]([^)]*)' "$root/$doc" | sed 's/.*](\(.*\))/\1/')
  [ -n "$paths" ] || bad "$doc shows no picture"
  for path in $paths; do
    file="$root/$dir/$path"
    [ -f "$file" ] || { bad "$doc: $path is not there"; continue; }
    [ "$(od -An -tx1 -N8 "$file" | tr -d ' \n')" = 89504e470d0a1a0a ] ||
      { bad "$doc: $path is not a PNG"; continue; }
    size=$(png_size "$file")
    for rule in "$@"; do
      case $(basename "$path") in
        "${rule%%=*}"*) [ "$size" = "${rule#*=}" ] || bad "$doc: $path is $size, its window ${rule#*=}" ;;
      esac
    done
    echo "ok $doc: $path ($size)"
  done
done

for rule in "$@"; do
  case ${rule%%=*} in *-) ;; *) continue ;; esac
  for shot in idle midburn success; do
    grep -q "](docs/images/${rule%%=*}$shot.png)" "$root/README.md" ||
      bad "README.md does not show ${rule%%=*}$shot.png"
  done
done
[ "$fail" = 0 ] && echo passed
exit "$fail"
