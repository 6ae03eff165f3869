#!/bin/sh
# The man pages help2man made: each is the page of its own program, carries the sections its
# --help gives, and man formats it without a warning (lintian's check of a package's pages).
# usage: manpages.sh MANDIR PROGRAM...
set -u
dir=$1
shift
fail() { echo "FAIL: $*"; exit 1; }

for program in "$@"; do
  page="$dir/$program.1.gz"
  [ -s "$page" ] || fail "no page $page"
  text=$(gzip -dc "$page")
  title=$(printf '%s\n' "$text" | sed -n 's/^\.TH "\{0,1\}\([^" ]*\).*/\1/p')
  [ "$title" = "$(echo "$program" | tr '[:lower:]' '[:upper:]')" ] || fail "$page: title '$title'"
  needles=".SH NAME;.SH SYNOPSIS;Exit status:;.SH COPYRIGHT;.SH \"SEE ALSO\""
  [ "$program" = plcsim ] || needles="$needles;.SH ENVIRONMENT;.SH FILES;SHA\\-256"
  echo "$needles" | tr ';' '\n' | while read -r needle; do
    printf '%s\n' "$text" | grep -qF -- "$needle" || fail "$page lacks '$needle'"
  done || exit 1
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  echo "ok $program(1)"
done
echo "passed"
