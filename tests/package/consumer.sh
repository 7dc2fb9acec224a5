#!/usr/bin/env bash
# The files of libqvrcore-dev, under a temporary root, used as another
# program of the suite uses them: every installed header compiles on its own
# include folder; a program outside the tree (consumer/) is built through
# find_package(QVRCore) and through pkg-config, and both builds call the
# reference attendance server.
# Usage: consumer.sh <packages> <multiarch> <consumer source> <qvr-server> <cmake> <generator>
#                    <make program> <c++ compiler>
set -euo pipefail
packages=$1 multiarch=$2 consumer=$3 server=$4 cmake=$5 generator=$6 make_program=$7 cxx=$8
# shellcheck source=tests/package/lib.sh
source "$(dirname "$0")/lib.sh"

server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}

root=$work/root
extract "$(deb_of "$packages" libqvrcore-dev)" "$root"
include=$root/usr/include/qvr
warnings=(-Wall -Wextra -Wpedantic -Werror)

# 1. Every installed header, in one translation unit, with nothing but the
# installed include folder.
(cd "$include" && find . -name '*.h' -printf '#include "%P"\n' | sort) >"$work/all-headers.cpp"
"$cxx" -std=c++20 "${warnings[@]}" -fsyntax-only -I"$include" "$work/all-headers.cpp" ||
  fail "the installed headers do not compile on their own"

# 2. find_package(QVRCore) against the root.
if "$cmake" -S "$consumer" -B "$work/cmake" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
     -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$root/usr" \
     -DCMAKE_CXX_FLAGS="${warnings[*]}" >"$work/cmake.log" 2>&1 &&
   "$cmake" --build "$work/cmake" >>"$work/cmake.log" 2>&1; then
  config_dir=$(sed -n 's/^QVRCore_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
  [[ $config_dir == "$root/usr/lib/$multiarch/cmake/QVRCore" ]] || fail "find_package found QVRCore in $config_dir"
else
  fail "the consumer does not build through find_package: $(cat "$work/cmake.log")"
fi

# 3. pkg-config, with the root as its sysroot: the paths of qvrcore.pc (under
# /usr) come out under the root.
export PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root
mkdir -p "$work/pkg-config"
if cflags=$(pkg-config --cflags qvrcore) && libs=$(pkg-config --static --libs qvrcore); then
  [[ " $cflags " == *" -I$include "* ]] || fail "pkg-config --cflags qvrcore gives '$cflags'"
  [[ " $libs " == *" -L$root/usr/lib/$multiarch "* ]] || fail "pkg-config --libs qvrcore gives '$libs'"
  # shellcheck disable=SC2086  # the flags are words
  "$cxx" -std=c++20 "${warnings[@]}" -O2 "$consumer/main.cpp" $cflags $libs -o "$work/pkg-config/consumer" ||
    fail "the consumer does not build through pkg-config"
else
  fail "pkg-config does not find qvrcore"
fi
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR

# 4. Both programs call the reference server named in the config.ini beside them.
"$server" --listen 127.0.0.1:0 --data "$work/server" --seed-employees 5 >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
port=
for _ in $(seq 300); do
  port=$(sed -n 's/^Listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
  [[ -n $port ]] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.2
done
if [[ -z $port ]]; then
  fail "qvr-server did not start: $(cat "$work/server.log")"
  finish
fi
export XDG_DATA_HOME=$work/data
expected=$'ReverseString: aloh\nIDStatusDefault: 1\nRelojes: 7'
for program in "$work/cmake/consumer" "$work/pkg-config/consumer"; do
  [[ -x $program ]] || continue
  printf '[rest]\nIP=127.0.0.1\nPuerto=%s\nUID=caja1\n' "$port" >"$(dirname "$program")/config.ini"
  if ! answer=$("$program" 2>&1); then
    fail "$program: $answer"
  elif [[ $answer != "$expected" ]]; then
    fail "$program printed '$answer', not '$expected'"
  fi
done

finish
