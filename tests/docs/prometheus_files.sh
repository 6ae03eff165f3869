#!/bin/sh
# The Prometheus files of the station's guide: promtool accepts the scrape configuration and the
# alert rules, the rules fire as their unit test expects, and the guide quotes both files as they
# are. Exits 77 (skipped) where promtool is not installed.
# usage: prometheus_files.sh SOURCE_DIR
set -u
root=$1
command -v promtool >/dev/null || { echo "promtool not installed"; exit 77; }
fail=0
promtool check config "$root/docs/prometheus/prometheus.yml" || fail=1
promtool check rules "$root/docs/prometheus/plcburn-rules.yml" || fail=1
(cd "$root/tests/docs" && promtool test rules plcburn-rules-test.yml) || fail=1
for file in prometheus.yml plcburn-rules.yml; do
  python3 - "$root/docs/station.md" "$root/docs/prometheus/$file" <<'PY' || fail=1
import sys
guide, quoted = (open(p, encoding="utf-8").read() for p in sys.argv[1:])
if quoted not in guide:
    sys.exit("docs/station.md does not quote " + sys.argv[2] + " as it is")
PY
done
exit "$fail"
