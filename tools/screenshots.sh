#!/bin/sh
# Takes the pictures in docs/images/ anew from the programs themselves, run as an operator runs
# them against the bundled simulator on pseudo-terminals (a fresh Debian 12 machine, as root):
#   linux    plcburn idle, mid-burn and at its success box, on a virtual X display with a window
#            manager, driven by xdotool
#   panel    the status panel mid-transfer, its parts numbered for the troubleshooting guide
#   station  plcburn --station over simulated PLCs in every state
#   windows  the cross-built window of a COM model (QN4) under Wine, idle, mid-burn and at its
#            success box, driven through the Windows job's ui_driver; and the cross-built
#            plcburn --station over COM ports: a PLC burned, one burning, a slot empty
# usage: screenshots.sh [PART]...   (all four when none is named)
# Every wait is bounded: a step that times out ends the script with its reason.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
parts=${*:-linux panel station windows}
wants() {
  case " $parts " in *" $1 "*) return 0 ;; esac
  return 1
}
for part in $parts; do
  case $part in
    linux | panel | station | windows) ;;
    *)
      echo "usage: screenshots.sh [linux|panel|station|windows]..." >&2
      exit 2
      ;;
  esac
done

sh tools/install-deps.sh xvfb x11-utils xdotool openbox imagemagick \
  g++-mingw-w64-x86-64 wine wine64 libgcrypt-mingw-w64-dev
sh tools/build.sh plcburn plcsim panel_legend
if wants windows; then
  # The window of a QN4 build, which Wine can burn through a COM port, and the helper that finds
  # its window and boxes.
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target plcburn plcburn_qn4 ui_driver -- -j"$jobs"
fi

work=$(mktemp -d)
plcsim="$root/build/sim/plcsim"
plcburn="$root/build/app/qt/plcburn"
# The burns' records go to a log of this run's own.
export XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Every process started here, to be ended by its id, the last started first.
started=""
start() {
  "$@" &
  last=$!
  started="$last $started"
}
stop() {
  kill -CONT "$1" 2>/dev/null || true
  kill "$1" 2>/dev/null || true
}
# What the script is at, said when it stops short.
step="building"
cleanup() {
  status=$?
  [ "$status" -eq 0 ] || echo "screenshots: stopped (status $status) at: $step" >&2
  for pid in $started; do stop "$pid"; done
  if [ -n "${wine_xvfb:-}" ]; then wine_session_stop; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "screenshots: $*" >&2
  exit 1
}
# wait_for SECONDS COMMAND...: until COMMAND succeeds; false after SECONDS.
wait_for() {
  limit=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.2
  done
}
# end PID: asks the process to end, and waits for it a while.
end() {
  stop "$1"
  wait_for 30 sh -c "! kill -0 $1 2>/dev/null" || true
}
# sim ARGS...: a simulated PLC ($simpid); its pseudo-terminal in $pty.
sim() {
  start "$plcsim" "$@" >"$work/pty"
  simpid=$last
  wait_for 30 test -s "$work/pty" || fail "plcsim gave no pseudo-terminal"
  pty=$(head -n 1 "$work/pty")
}
# red FILE [GEOMETRY]: how many pixels (of the crop) are pure red, the progress bar's colour.
red() {
  convert "$1" ${2:+-crop "$2" +repage} -fill black +opaque "rgb(255,0,0)" -fill white \
    -opaque "rgb(255,0,0)" -format '%[fx:int(mean*w*h+0.5)]' info:
}
# bright FILE [GEOMETRY]: its brightness from 0 to 100; a window not yet painted is black.
bright() {
  convert "$1" ${2:+-crop "$2" +repage} -colorspace gray -format '%[fx:int(100*mean)]' info:
}
pixel() {
  convert "$1" -format "%[pixel:p{$2,$3}]" info:
}
# A TCP port of the loopback that nobody listens on now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# keep NAME...: the pictures taken go into the docs, each part's as soon as it is done.
keep() {
  for name in "$@"; do cp "$work/$name.png" "docs/images/$name.png"; done
}

# --- Linux: plcburn on Xvfb; openbox frames its message boxes and puts them over the window ----
title="Tavrion PLC Firmware Update Program"
bar="510x1+10+115" # a row through the progress bar, in the client area

# window PID: the main window of that plcburn, shown and painted ($win).
found_window() {
  xdotool search --onlyvisible --pid "$1" --name "^$title\$" >"$work/win" 2>/dev/null
}
painted() {
  import -window "$win" "$work/c.png" &&
    [ "$(pixel "$work/c.png" 455 29)" != "$(pixel "$work/c.png" 5 29)" ] # the logo is there
}
window() {
  wait_for 60 found_window "$1" || fail "the window did not show"
  win=$(head -n 1 "$work/win")
  wait_for 30 painted || fail "the window was not painted"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
}
# shot FILE: the window's client area (its fixed size, as the guides give it) and whatever lies
# over it, such as a message box in its frame.
shot() {
  sleep 0.5 # the last paint reaches the screen
  import -screen -window "$win" "$1"
}
client() {
  import -window "$win" "$work/c.png"
}
bar_at_least() {
  client && [ "$(red "$work/c.png" "$bar")" -ge "$1" ]
}
# The box plcburn shows, if any ($box).
found_box() {
  xdotool search --onlyvisible --pid "$1" --name '.' 2>/dev/null | grep -v "^$win\$" >"$work/box"
}
box_painted() {
  box=$(head -n 1 "$work/box")
  import -window "$box" "$work/b.png" && [ "$(bright "$work/b.png")" -gt 50 ]
}
box() {
  wait_for 180 found_box "$1" || fail "no message box"
  wait_for 30 box_painted || fail "the message box was not painted"
}
answer_box() {
  xdotool windowactivate --sync "$box" key Return >/dev/null 2>&1 || true
}
# start_burn PID: the simulator's port (the second in the list: one wheel step down over the
# list), then "Start Burn", the pointer kept off the window's parts.
start_burn() {
  xdotool mousemove --window "$win" 210 30 click 5 mousemove --window "$win" 300 100
  sleep 0.5
  xdotool mousemove --window "$win" 60 75 click 1 mousemove --window "$win" 300 100
  wait_for 60 burning "$1" || fail "the burn did not start"
}
burning() {
  found_box "$1" || bar_at_least 1
}

if wants linux || wants panel || wants station; then
  step="the X display"
  display=70
  while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  # Room for the station's 1280x800 in its frame.
  start Xvfb ":$display" -screen 0 1600x1200x24 -nolisten tcp
  export DISPLAY=":$display"
  wait_for 30 xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
  start openbox >/dev/null 2>&1
  wait_for 30 xdotool search --name '^Openbox$' >/dev/null 2>&1 || true
fi

if wants linux; then
  step="linux"
  # Idle, mid-burn at the real line rates, and at the success box.
  sim --model VL --boot --line-rate
  PLCBURN_EXTRA_PORTS="$pty" start "$plcburn"
  app=$last
  window "$app"
  shot "$work/linux-idle.png"
  start_burn "$app"
  wait_for 180 bar_at_least 204 || fail "the progress did not reach 40%"
  shot "$work/linux-midburn.png"
  box "$app"
  wait_for 10 bar_at_least 510 || true # the panel's last tick, at 100%
  shot "$work/linux-success.png"
  answer_box
  end "$app"
  end "$simpid"
  keep linux-idle linux-midburn linux-success
fi

# The status panel mid-transfer, as the guide explains it: the answer to block 100 lost once,
# block 1000 refused twice and the answer to its third try lost, so the window waits 3 s with the
# counters at 2 failed tries of this block, 3 in the burn. The bar stands still only while an
# answer is awaited: the second such pause is taken, with the window stopped meanwhile.
panel_shot() {
  sim --model VL --boot --fault lose-ack:100 --fault nak-block:1000:2 --fault lose-ack:1000
  PLCBURN_EXTRA_PORTS="$pty" start "$plcburn"
  app=$last
  window "$app"
  start_burn "$app"
  before=-1
  pauses=0
  pausing=no
  taken=no
  limit=$(($(date +%s) + 120))
  while [ "$taken" = no ] && [ "$(date +%s)" -lt "$limit" ]; do
    client
    now=$(red "$work/c.png" "$bar")
    [ "$now" -ge 510 ] && break
    if [ "$now" != "$before" ]; then
      pausing=no
    elif [ "$now" -gt 0 ] && [ "$pausing" = no ]; then
      pausing=yes
      pauses=$((pauses + 1))
      if [ "$pauses" -eq 2 ]; then
        kill -STOP "$app"
        sleep 0.3
        client
        if [ "$(red "$work/c.png" "$bar")" = "$now" ]; then
          cp "$work/c.png" "$work/panel.png"
          taken=yes
        fi
        kill -CONT "$app"
      fi
    fi
    before=$now
    sleep 0.3
  done
  box "$app"
  answer_box
  end "$app"
  end "$simpid"
  [ "$taken" = yes ]
}
if wants panel; then
  step="panel"
  panel_shot || panel_shot || panel_shot || fail "the transfer's pause was missed three times"
  build/app/qt/panel_legend "$work/panel.png" "$work/status-panel.png"
  keep status-panel
fi

# The station over six slots: a VL burned after its re-plug, a QN4 (the wrong model) failed, a
# VL waiting for its re-plug, a VL (in its boot loader, so the bar shows the transfer alone)
# burning at the real line rates, two slots empty. The states are read from the station's own
# figures (--metrics).
slots="$work/slots"
slot_state() {
  python3 - "$metrics" "$slots/socket$1-*" <<'EOF'
import re, sys, urllib.request
text = urllib.request.urlopen("http://%s/metrics" % sys.argv[1], timeout=5).read().decode()
for slot, state in re.findall(r'plcburn_slot_state\{slot="([^"]*)",state="([^"]*)"\} 1', text):
    if slot == sys.argv[2]:
        print(state)
EOF
}
slot_is() {
  [ "$(slot_state "$1" 2>/dev/null)" = "$2" ]
}
slot_is_not() {
  state=$(slot_state "$1" 2>/dev/null) && [ -n "$state" ] && [ "$state" != "$2" ]
}
plug() {
  n=$1
  shift
  sim "$@"
  slot_sims="$slot_sims $simpid"
  ln -s "$pty" "$slots/socket$n-plc"
}
# A pull and a plug back at the prompt; a gap the station missed is made again, longer.
replug() {
  wait_for 60 slot_is "$1" replug || fail "slot $1 asked for no re-plug"
  terminal=$(readlink "$slots/socket$1-plc")
  for gap in 1 2 4; do
    rm "$slots/socket$1-plc"
    sleep "$gap"
    ln -s "$terminal" "$slots/socket$1-plc"
    wait_for 15 slot_is_not "$1" replug && return 0
  done
  fail "slot $1 was not seen re-plugged"
}
station_painted() {
  import -window "$win" "$work/s.png" && [ "$(red "$work/s.png")" -ge "$1" ]
}
if wants station; then
  step="station"
  mkdir -p "$slots"
  slot_sims=""
  metrics="127.0.0.1:$(free_port)"
  start "$plcburn" --station "$slots/socket1-*" "$slots/socket2-*" "$slots/socket3-*" \
    "$slots/socket4-*" "$slots/socket5-*" "$slots/socket6-*" --metrics "$metrics"
  station=$last
  for n in 1 2 3 4 5 6; do wait_for 60 slot_is "$n" empty || fail "slot $n is not empty"; done
  plug 1 --model VL
  plug 2 --model QN4
  plug 3 --model VL
  plug 4 --model VL --boot --line-rate
  replug 1
  wait_for 120 slot_is 1 ok || fail "slot 1 did not end OK"
  wait_for 60 slot_is 2 failed || fail "slot 2 did not fail"
  wait_for 60 slot_is 3 replug || fail "slot 3 is not waiting for its re-plug"
  wait_for 60 slot_is 4 burning || fail "slot 4 is not burning"
  wait_for 60 sh -c "xdotool search --onlyvisible --pid $station --name . >'$work/win'" ||
    fail "the station window did not show"
  win=$(head -n 1 "$work/win")
  # Past a fifth of the transfer: the burning tile's bar holds that many red pixels.
  wait_for 120 station_painted 1100 || fail "the burning tile did not reach a fifth"
  cp "$work/s.png" "$work/station.png"
  end "$station"
  for pid in $slot_sims; do end "$pid"; done
  keep station
fi

# --- Windows: the QN4 window under Wine, its COM5 on a pseudo-terminal ------------------------
# The helper under Wine (with --station first, for the station window); its lines lose Windows'
# carriage returns.
driver() {
  status=0
  wine build-win/tests/win32/ui_driver.exe "$@" >"$work/driver" || status=$?
  tr -d '\r' <"$work/driver"
  return "$status"
}
# rect FIELD: "LEFT TOP RIGHT BOTTOM" of the driver's output as a crop geometry.
rect() {
  sed -n "s/^$1 //p" | {
    read -r l t r b
    echo "$((r - l))x$((b - t))+$l+$t"
  }
}
root_shot() {
  import -window root "$work/root.png"
}
# The transfer past N pixels of the bar. The boot loader's erase fills it first: the transfer
# is the bar begun anew.
peak=0
erased=no
windows_transfer_at_least() {
  root_shot
  now=$(red "$work/root.png" "$wbar")
  if [ "$erased" = no ]; then
    [ "$now" -le $((peak - 50)) ] && erased=yes
    [ "$now" -gt "$peak" ] && peak=$now
    return 1
  fi
  [ "$now" -ge "$1" ]
}
# Painted once the logo is there: its middle is not the window's background.
windows_painted() {
  root_shot &&
    [ "$(pixel "$work/root.png" $((${client% *} + 455)) $((${client#* } + 29)))" != \
      "$(pixel "$work/root.png" $((${client% *} + 5)) $((${client#* } + 29)))" ]
}
windows_bar_full() {
  root_shot && [ "$(red "$work/root.png" "$wbar")" -ge 510 ]
}
windows_box_painted() {
  root_shot && [ "$(bright "$work/root.png" "$boxarea")" -gt 50 ]
}
# adapters plugged|unplugged: the USB serial adapters of COM61 and COM62 in Wine's device
# registry, where the Setup API lists them from.
adapters() {
  {
    printf 'REGEDIT4\r\n\r\n'
    for port in 61 62; do
      key="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_0403&PID_6001"
      key="$key\\PLCBURNTEST$port"
      if [ "$1" = plugged ]; then
        printf '[%s]\r\n"Class"="Ports"\r\n' "$key"
        printf '"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"\r\n'
        printf '"FriendlyName"="USB Serial Port (COM%s)"\r\n\r\n' "$port"
      else
        printf '[-%s]\r\n\r\n' "$key"
      fi
    done
  } >"$work/plug.reg"
  wine regedit /S "$(winepath -w "$work/plug.reg" 2>/dev/null)"
}
windows_slot_is() {
  python3 - "$metrics" "$1" "$2" <<'EOF'
import sys, urllib.request
text = urllib.request.urlopen("http://%s/metrics" % sys.argv[1], timeout=5).read().decode()
sys.exit('plcburn_slot_state{slot="%s",state="%s"} 1' % tuple(sys.argv[2:]) not in text)
EOF
}
# The station window past N red pixels: its burning tile's bar.
windows_station_past() {
  root_shot && convert "$work/root.png" -crop "$window" +repage "$work/win32-station.png" &&
    [ "$(red "$work/win32-station.png")" -ge "$1" ]
}
if wants windows; then
  step="windows: Wine"
  build="$root/build-win"
  # shellcheck source=tools/wine-session.sh
  . tools/wine-session.sh
  wine_session_start
  step="windows: the burn"
  com5="$WINEPREFIX/dosdevices/com5"
  sim --model QN4 --boot --line-rate
  rm -f "$com5"
  ln -s "$pty" "$com5"
  start wine build-win/tests/win32/plcburn_qn4.exe
  app=$last
  driver wait-window 60000 >"$work/wstate" || fail "the Windows window did not show"
  window=$(rect window <"$work/wstate")
  client=$(sed -n 's/^client //p' "$work/wstate")
  wbar="510x1+$((${client% *} + 10))+$((${client#* } + 115))"
  wait_for 30 windows_painted || fail "the Windows window was not painted"
  convert "$work/root.png" -crop "$window" +repage "$work/windows-idle.png"
  driver click-start >/dev/null || fail "Start Burn could not be clicked on Windows"
  wait_for 180 windows_transfer_at_least 204 || fail "the Windows progress did not reach 40%"
  convert "$work/root.png" -crop "$window" +repage "$work/windows-midburn.png"
  driver wait-box 180000 >"$work/wstate" || fail "no success box on Windows"
  boxarea=$(rect box <"$work/wstate")
  wait_for 10 windows_box_painted || fail "the Windows box was not painted"
  wait_for 10 windows_bar_full || true # the panel's last tick, at 100%
  # Wine centres the box on the screen; it goes over the window's middle, as a dialog sits over
  # its owner.
  convert "$work/root.png" -crop "$window" +repage "$work/windows-success.png"
  convert "$work/root.png" -crop "$boxarea" +repage "$work/box.png"
  convert "$work/windows-success.png" "$work/box.png" -gravity center -composite \
    "$work/windows-success.png"
  driver answer 10000 1 >/dev/null || true
  driver close >/dev/null || true
  end "$app"
  end "$simpid"
  rm -f "$com5"
  keep windows-idle windows-midburn windows-success

  # The station window over COM61 to COM63, a PLC plugged into each of the first two as the
  # Windows job plugs one (its adapter in Wine's device registry, plcsim behind its COM port):
  # one burned to its end, one burning at the real line rates; the third slot empty.
  step="windows: the station"
  slot_sims=""
  for port in 61 62; do
    if [ "$port" = 61 ]; then sim --model VL --boot; else sim --model VL --boot --line-rate; fi
    slot_sims="$slot_sims $simpid"
    rm -f "$WINEPREFIX/dosdevices/com$port"
    ln -s "$pty" "$WINEPREFIX/dosdevices/com$port"
  done
  metrics="127.0.0.1:$(free_port)"
  start wine build-win/app/win32/plcburn.exe --station COM61 COM62 COM63 --no-log \
    --metrics "$metrics"
  app=$last
  driver --station wait-window 60000 >"$work/wstate" || fail "the Windows station did not show"
  window=$(rect window <"$work/wstate")
  adapters plugged
  wait_for 120 windows_slot_is COM61 ok || fail "COM61 did not end OK"
  wait_for 60 windows_slot_is COM62 burning || fail "COM62 is not burning"
  wait_for 120 windows_station_past 1100 || fail "the burning tile did not reach a fifth"
  # Closed as an operator closes it mid-burn: asked, and answered Yes.
  driver --station close >/dev/null || true
  driver --station answer 20000 6 >/dev/null || true
  driver --station wait-gone 30000 >/dev/null || true
  end "$app"
  adapters unplugged
  for pid in $slot_sims; do end "$pid"; done
  rm -f "$WINEPREFIX/dosdevices/com61" "$WINEPREFIX/dosdevices/com62"
  keep win32-station
fi

ls -l docs/images
