#!/bin/sh
# The packages as a technician meets them (a fresh Debian 12 machine, as root): builds them with
# tools/package.sh; lints the Debian package, installs it, burns with the installed programs and
# removes it; then installs the Windows setup program silently under Wine, runs the installed
# plcburn-cli.exe and uninstalls it silently. Each step leaves the machine as it found it.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)

sh tools/package.sh
sh tools/install-deps.sh lintian desktop-file-utils appstream man-db file unzip \
  wine wine64 xvfb x11-utils

deb=$(ls dist/plcburn_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version)
image=res/VL_v189_20170828_left.bin
work=$(mktemp -d)
sim=""
xvfb=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  if [ -n "$xvfb" ]; then
    wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null
  fi
  # A failed run must not leave the package installed.
  dpkg-query -W plcburn >/dev/null 2>&1 && apt-get purge -y -qq plcburn >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() {
  echo "package-tests: FAIL: $*" >&2
  exit 1
}
# The first line of a program's --version, and the image's checksum as --version prints it.
expect_version() {
  printf '%s\n' "$2" | tr -d '\r' >"$work/version"
  [ "$(head -n 1 "$work/version")" = "plcburn $version" ] ||
    fail "$1 --version begins '$(head -n 1 "$work/version")'"
  grep -qx "  SHA-256   $(sha256sum "$image" | cut -d ' ' -f 1)" "$work/version" ||
    fail "$1 --version does not give the image's SHA-256: $(cat "$work/version")"
}

echo "== the packages"
ls -l dist
unzip -Z1 "dist/plcburn-$version-win64.zip" | sort >"$work/zip"
for f in plcburn.exe plcburn-cli.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  grep -qx "plcburn-$version-win64/$f" "$work/zip" || fail "the zip lacks $f"
done

echo "== lintian"
status=0
lintian --fail-on error --info --display-experimental "$deb" >"$work/lintian" 2>&1 || status=$?
cat "$work/lintian"
[ "$status" -eq 0 ] || fail "lintian reports errors"
# Every warning left is explained in packaging/README.md.
sed -n 's/^W: plcburn: \([a-z0-9-]*\).*/\1/p' "$work/lintian" | sort -u >"$work/warnings"
while read -r tag; do
  grep -q "$tag" packaging/README.md || fail "lintian warning $tag is not explained"
done <"$work/warnings"

echo "== apt-get install $deb"
ls /usr/bin >"$work/bin.before"
apt-get install -y -qq "./$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "install"; }
expect_version /usr/bin/plcburn-cli "$(/usr/bin/plcburn-cli --version)"
cat "$work/version"
# The window answers without a display.
expect_version /usr/bin/plcburn "$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/plcburn --version)"
[ "$(/usr/bin/plcsim --version | head -n 1)" = "plcburn $version" ] || fail "plcsim --version"
udevdir=$(pkg-config --variable=udevdir udev 2>/dev/null || echo /usr/lib/udev)
[ -f "$udevdir/rules.d/60-plcburn.rules" ] || fail "no udev rule in $udevdir/rules.d"
desktop-file-validate /usr/share/applications/plcburn.desktop || fail "desktop entry"
appstreamcli validate --no-net "$(dpkg -L plcburn | grep '\.metainfo\.xml$')" || fail "metainfo"
icon=$(dpkg -L plcburn | grep '/icons/hicolor/.*/apps/plcburn.png$')
size=$(file -b "$icon" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
case $icon in */hicolor/"$size"/apps/*) ;; *) fail "icon of $size in $icon" ;; esac
# The station: its unit installed disabled, its settings a conffile, its user in the groups
# that own the PLCs' ports.
unitdir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || echo /lib/systemd/system)
[ -f "$unitdir/plcburn-station.service" ] || fail "no plcburn-station.service in $unitdir"
[ ! -e /etc/systemd/system/multi-user.target.wants/plcburn-station.service ] ||
  fail "plcburn-station.service is enabled"
dpkg-query -W -f='${Conffiles}' plcburn | grep -q ' /etc/plcburn/station.conf ' ||
  fail "station.conf is not a conffile"
for group in dialout plugdev; do
  id -nG plcburn | tr ' ' '\n' | grep -qx "$group" || fail "user plcburn is not in $group"
done
for page in plcburn plcburn-cli plcsim; do
  man -w "$page" >/dev/null || fail "no man page $page(1)"
done

echo "== a burn of the installed plcburn-cli into the installed plcsim"
head -c 16384 "$image" >"$work/QN4_small.bin"
/usr/bin/plcsim --model QN4 --save "$work/received.bin" >"$work/pty" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/pty")
[ -n "$port" ] || fail "plcsim printed no port: $(cat "$work/sim.err")"
/usr/bin/plcburn-cli --model QN4 --image "$work/QN4_small.bin" --port "$port" --yes \
  >"$work/burn.out" 2>"$work/burn.err" || fail "burn: $(cat "$work/burn.out" "$work/burn.err")"
[ "$(tail -n 1 "$work/burn.out")" = "INFORMATION: Firmware update is SUCCESSFUL" ] ||
  fail "burn ended with '$(tail -n 1 "$work/burn.out")'"
wait "$sim" || fail "plcsim exit $?"
sim=""
cmp "$work/QN4_small.bin" "$work/received.bin" || fail "the PLC received another image"
echo "burnt and received $(wc -c <"$work/received.bin") bytes"

echo "== apt-get remove plcburn"
dpkg -L plcburn >"$work/files"
# A removal keeps the configuration files (the station's settings) for a later install; the
# purge takes them too.
conffiles=$(dpkg-query -W -f='${Conffiles}\n' plcburn 2>/dev/null | awk '{print $1}')
apt-get remove -y -qq plcburn >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "remove"; }
ls /usr/bin >"$work/bin.after"
diff "$work/bin.before" "$work/bin.after" || fail "/usr/bin differs after the removal"
while read -r f; do
  echo "$conffiles" | grep -qx "$f" && continue
  [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is left after the removal"
done <"$work/files"
# Removed, dpkg keeps the package's record for its postrm's purge: purge it too.
dpkg --purge plcburn >/dev/null
if dpkg-query -W plcburn >/dev/null 2>&1; then fail "dpkg still knows plcburn after the purge"; fi
for f in $conffiles; do [ ! -e "$f" ] || fail "$f is left after the purge"; done

echo "== the Windows installer, silently under Wine"
# A fresh private prefix, as a machine that never had plcburn, and a virtual display.
export WINEPREFIX="$root/build-pkg-win/wineprefix" WINEARCH=win64 WINEDEBUG=-all
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# No Mono or Gecko: their installers would wait for a click.
WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >"$work/wine.log" 2>&1
wineserver -w
programs="$WINEPREFIX/drive_c/Program Files"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\plcburn'
find "$programs" | sort >"$work/programs.before"

wine "dist/plcburn-$version-win64-setup.exe" /S >>"$work/wine.log" 2>&1 || fail "setup /S"
wineserver -w
for f in plcburn.exe plcburn-cli.exe uninstall.exe README.txt LICENSE.txt \
  THIRD-PARTY-NOTICES.txt; do
  [ -f "$programs/plcburn/$f" ] || fail "Program Files\\plcburn lacks $f"
done
[ -f "$menu/plcburn.lnk" ] || fail "no Start-menu shortcut"
for value in "DisplayVersion.*$version" "Publisher.*plcburn" "QuietUninstallString.*/S"; do
  wine reg query "$key" 2>>"$work/wine.log" | tr -d '\r' | grep -q "$value" ||
    fail "the Apps & features entry lacks $value"
done
# The station's service, registered stopped and for a start by hand.
wine sc query plcburn-station 2>>"$work/wine.log" | tr -d '\r' | grep -q "STATE *: 1 *STOPPED" ||
  fail "the service plcburn-station is not registered, stopped"
expect_version plcburn-cli.exe "$(wine "$programs/plcburn/plcburn-cli.exe" --version)"
echo "installed: $(cd "$programs/plcburn" && echo *)"
echo "plcburn-cli.exe --version: $(head -n 1 "$work/version")"

wine "$programs/plcburn/uninstall.exe" /S >>"$work/wine.log" 2>&1 || fail "uninstall /S"
# The uninstaller runs on from a copy of itself: wait for every Wine process to end.
wineserver -w
find "$programs" | sort >"$work/programs.after"
diff "$work/programs.before" "$work/programs.after" || fail "Program Files differs after uninstalling"
[ ! -e "$menu/plcburn.lnk" ] || fail "the Start-menu shortcut is left"
if wine reg query "$key" >/dev/null 2>&1; then fail "the Apps & features entry is left"; fi
if wine sc query plcburn-station >/dev/null 2>&1; then fail "the service plcburn-station is left"; fi

echo "package-tests: passed in $(($(date +%s) - start)) s"
