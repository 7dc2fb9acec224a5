# shellcheck shell=bash
# Shared by the package tests (sourced): failure reports, the packages of a
# folder, extraction into a temporary root.

fail() {
  echo "FAIL: $*" >&2
  failures=$((${failures:-0} + 1))
}

# Ends the test with the failures counted by fail().
finish() {
  if [[ ${failures:-0} -gt 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# deb_of <folder> <package>: the one .deb of <package> in <folder>.
deb_of() {
  local found=("$1/$2"_*.deb)
  if [[ ${#found[@]} -ne 1 || ! -f ${found[0]} ]]; then
    echo "FAIL: no single package $2 in $1" >&2
    exit 1
  fi
  echo "${found[0]}"
}

# extract <deb> <root>: the package's files under <root>, as dpkg would lay
# them out under /.
extract() {
  mkdir -p "$2"
  dpkg-deb -x "$1" "$2"
}

# A temporary folder, removed when the test ends; its traps run cleanup().
work=$(mktemp -d)
cleanup() { :; }
trap 'cleanup; rm -rf "$work"' EXIT
