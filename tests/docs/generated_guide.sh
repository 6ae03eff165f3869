#!/bin/sh
# The committed troubleshooting guide is what the generator makes of its template and the message
# help table: a row added to the table, or prose changed in the template, shows up in the guide.
# usage: generated_guide.sh GENERATOR TEMPLATE GUIDE
set -u
generator=$1 template=$2 guide=$3
made=$(mktemp)
trap 'rm -f "$made"' EXIT
"$generator" "$template" "$made" || { echo "FAIL: the generator failed"; exit 1; }
if ! diff -u "$guide" "$made"; then
  echo "FAIL: $guide is not the generator's output:"
  echo "      cmake --build build --target troubleshooting-guide"
  exit 1
fi
echo "passed: $guide is up to date"
