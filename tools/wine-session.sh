# shellcheck shell=sh disable=SC2154 # $root and $build are the caller's
# Sourced by the scripts that run the Windows programs under Wine (windows-tests.sh,
# screenshots.sh), with $root the checkout and $build the Windows build folder:
# wine_session_start gives them a private Wine prefix and X display; wine_session_stop ends both.
# Wine's helper processes outlive the program that starts them and keep its output open, so they
# are started here, away from CTest's pipes; so is the wineserver, which otherwise starts (~3 s)
# for each test and dumps its state into a test's output when a pty it holds hangs up.

wine_session_start() {
  export WINEPREFIX="$build/wineprefix" WINEARCH=win64 WINEDEBUG=-all
  wine_log="$build/wine.log"
  : >"$wine_log"
  wine_display=90
  while [ -e "/tmp/.X$wine_display-lock" ]; do wine_display=$((wine_display + 1)); done
  Xvfb ":$wine_display" -screen 0 1280x1024x24 -nolisten tcp >>"$wine_log" 2>&1 &
  wine_xvfb=$!
  export DISPLAY=":$wine_display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  mkdir -p "$WINEPREFIX"
  wineserver -p >>"$wine_log" 2>&1
  # No Mono or Gecko: nothing here needs them, and their installers would wait for a click.
  [ -f "$WINEPREFIX/system.reg" ] ||
    WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >>"$wine_log" 2>&1
  wine regedit /S "$(winepath -w "$root/tests/win32/wine_prefix.reg" 2>>"$wine_log")" \
    >>"$wine_log" 2>&1
  # Colours and the desktop are read when a session starts: start a new one.
  wineserver -k >>"$wine_log" 2>&1 || true
  wineserver -w >>"$wine_log" 2>&1 || true
  wineserver -p >>"$wine_log" 2>&1
  wine wineboot >>"$wine_log" 2>&1
}

wine_session_stop() {
  [ -n "${wine_xvfb:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  kill "$wine_xvfb" 2>/dev/null || true
  wine_xvfb=
}
