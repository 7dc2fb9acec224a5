#!/usr/bin/env bash
# Builds the three Debian packages from this build tree with CPack, as `make
# package` does, into a folder of the tests' own.
# Usage: build-packages.sh <cpack> <CPackConfig.cmake> <output folder>
set -euo pipefail
cpack=$1 config=$2 out=$3

rm -rf "$out"
"$cpack" -G DEB --config "$config" -B "$out"
for package in qvr-opciones qvr-server libqvrcore-dev; do
  ls "$out/$package"_*.deb
done
