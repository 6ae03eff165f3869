#!/bin/sh
# --help and --version of the built programs, checked against what they describe: the version
# of the build, the embedded image as the file system sees it, the installed udev rule.
# usage: program_info.sh VERSION IMAGE UDEV_RULE CLI PLCSIM [WINDOW]
set -u
version=$1 image=$2 rule=$3 cli=$4 sim=$5 window=${6:-}
fail() { echo "FAIL: $*"; exit 1; }

name=$(basename "$image")
model=${name%%_*}
size=$(wc -c <"$image")
sha=$(sha256sum "$image" | cut -d ' ' -f 1)

# program | has a built-in image | help must mention
cases="$cli|yes|Usage: plcburn-cli;Exit status:;PLCBURN_EXTRA_PORTS;$rule;--port PORT;--json;burns.jsonl
$sim|no|Usage: plcsim --model NAME;Exit status:;hangup:K;TR7-F"
[ -n "$window" ] && cases="$cases
$window|yes|Usage: plcburn;Exit status:;PLCBURN_EXTRA_PORTS;$rule;without opening a window;burns.jsonl"

printf '%s\n' "$cases" | while IFS='|' read -r program has_image needles; do
  # No display: the window must answer without one, and must not hang trying.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$program" --version) ||
    fail "$program --version: exit $?"
  [ "$(printf '%s\n' "$out" | head -n 1)" = "plcburn $version" ] ||
    fail "$program --version begins '$(printf '%s\n' "$out" | head -n 1)'"
  if [ "$has_image" = yes ]; then
    for line in "  file      $name" "  model     $model" "  size      $size bytes" \
      "  SHA-256   $sha"; do
      printf '%s\n' "$out" | grep -qxF "$line" || fail "$program --version lacks '$line': $out"
    done
  fi
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$program" --help) ||
    fail "$program --help: exit $?"
  echo "$needles" | tr ';' '\n' | while read -r needle; do
    printf '%s\n' "$help" | grep -qF -- "$needle" || fail "$program --help lacks '$needle'"
  done || exit 1
  echo "ok $(basename "$program")"
done || exit 1
echo "passed"
