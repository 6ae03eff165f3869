#!/bin/sh
# The cheap checks, first in CI: format, shell scripts, layering, and clang-tidy on the core and
# the protocol.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh clang-format clang-tidy shellcheck
echo "== clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "== shellcheck"
shellcheck tools/*.sh .ci/run tests/integration/*.sh tests/packaging/*.sh tests/docs/*.sh \
  packaging/debian/postinst packaging/debian/postrm packaging/debian/prerm
echo "== layering"
sh tools/check-layers.sh
echo "== clang-tidy"
# The compile commands of the default build; configuring is enough.
cmake --preset default >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Its count of the system headers' suppressed warnings is noise.
clang-tidy -p build --quiet core/*.cpp proto/*.cpp >"$log" 2>&1 || { cat "$log"; exit 1; }
grep -v 'warnings generated' "$log" || true
echo "lint: clean"
