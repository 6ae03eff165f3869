#!/bin/sh
# Fails when a folder includes a header of a folder above it. Bottom to top: core, link, proto,
# burn, then app and sim (which never include each other); res, record and trust sit on core
# alone, and so does the troubleshooting guide's generator in docs; metrics sits on core and
# record. Inside app, the front ends (cli, qt, win32) stand side by side: each may include the
# shared rooms (common, panel, the files at app/'s top) and itself, never another front end.
set -eu
cd "$(dirname "$0")/.."
status=0
check() {
  folder=$1
  allowed=$2
  # Our own headers are included by folder name: "core/catalogue.h".
  found=$(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z0-9_]+/' "$folder" \
    --include='*.h' --include='*.cpp' --include='*.in' | grep -vE "\"($allowed)/" || true)
  if [ -n "$found" ]; then
    echo "$folder/ may include only $allowed:"
    echo "$found"
    status=1
  fi
}
check core 'core'
check link 'core|link'
check proto 'core|link|proto'
check burn 'core|link|proto|burn'
check res 'core|res'
check record 'core|record'
check metrics 'core|record|metrics'
check trust 'core|trust'
check sim 'core|link|proto|sim'
check app 'core|link|proto|burn|res|record|metrics|trust|app'
check docs 'core'
# The same within app/, one level down: "app/cli/..." names the room.
check_app() {
  room=$1
  allowed=$2
  found=$(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"app/[a-z0-9_]+/' "app/$room" \
    --include='*.h' --include='*.cpp' | grep -vE "\"app/($allowed)/" || true)
  if [ -n "$found" ]; then
    echo "app/$room/ may include only app/{$allowed}:"
    echo "$found"
    status=1
  fi
}
check_app common 'common|panel'
check_app panel 'panel'
for frontend in cli qt win32; do
  check_app "$frontend" "$frontend|common|panel"
done
[ "$status" -eq 0 ] && echo "layering: no folder includes one above it"
exit "$status"
