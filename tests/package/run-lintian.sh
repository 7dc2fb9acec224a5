#!/usr/bin/env bash
# lintian, Debian's package checker, on the three packages: no errors (its
# warnings and notes are printed, and do not fail the test).
# Usage: run-lintian.sh <packages>
set -euo pipefail
packages=$1
# shellcheck source=tests/package/lib.sh
source "$(dirname "$0")/lib.sh"

debs=()
for package in qvr-opciones qvr-server libqvrcore-dev; do
  debs+=("$(deb_of "$packages" $package)")
done
# Everything down to the notes goes to the log; the warnings and errors are shown.
status=0
lintian --fail-on error --info --pedantic "${debs[@]}" >"$work/lintian.log" 2>&1 || status=$?
grep -v -E '^(I|P|N): ' "$work/lintian.log" || true
[[ $status == 0 ]] || fail "lintian reports errors (status $status)"
# An override that no longer matches anything is a sign that the packages
# changed under it.
if grep -E 'unused-override|mismatched-override' "$work/lintian.log"; then
  fail "lintian: stale override"
fi
finish
