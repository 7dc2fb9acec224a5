#!/usr/bin/env bash
# Runs a test executable as an ordinary user, so that permission rules are
# checked the way a desktop user meets them even when the suite runs as root
# (as CI does). Not root: the test simply runs. Exit code 77 (skipped) when
# the unprivileged user cannot reach the executable. The user gets the group
# "users" as a supplementary group (when it exists), as a desktop user who
# shares files with a group has one.
set -uo pipefail
test_binary=$1
shift
if [[ $(id -u) -ne 0 ]]; then
  exec "$test_binary" "$@"
fi
user=nobody
group=$(id -gn "$user" 2>/dev/null || echo nogroup)
groups=(--clear-groups)
shared=$(getent group users | cut -d: -f3)
if [[ -n "$shared" ]]; then
  groups=(--groups="$shared")
fi
if ! setpriv --reuid="$user" --regid="$group" "${groups[@]}" test -x "$test_binary"; then
  echo "skipped: $user cannot run $test_binary"
  exit 77
fi
work=$(mktemp -d)
chmod 0777 "$work"
cd "$work"
HOME=$work TMPDIR=$work setpriv --reuid="$user" --regid="$group" "${groups[@]}" "$test_binary" "$@"
status=$?
rm -rf "$work"
exit $status
