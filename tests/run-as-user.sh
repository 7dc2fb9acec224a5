#!/usr/bin/env bash
# Runs a test executable as an ordinary user, so that permission rules are
# checked the way a desktop user meets them even when the suite runs as root
# (as CI does). Not root: the test simply runs. Exit code 77 (skipped) when
# the unprivileged user cannot reach the executable.
set -uo pipefail
test_binary=$1
shift
if [[ $(id -u) -ne 0 ]]; then
  exec "$test_binary" "$@"
fi
user=nobody
group=$(id -gn "$user" 2>/dev/null || echo nogroup)
if ! setpriv --reuid="$user" --regid="$group" --clear-groups test -x "$test_binary"; then
  echo "skipped: $user cannot run $test_binary"
  exit 77
fi
work=$(mktemp -d)
chmod 0777 "$work"
cd "$work"
HOME=$work TMPDIR=$work setpriv --reuid="$user" --regid="$group" --clear-groups "$test_binary" "$@"
status=$?
rm -rf "$work"
exit $status
