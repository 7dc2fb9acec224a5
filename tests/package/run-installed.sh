#!/usr/bin/env bash
# The client programs run from the files of qvr-opciones, laid out as dpkg
# lays them out but under a temporary root, and started through their commands
# on the PATH: the options utility shows its window offscreen and under Xvfb,
# where a save goes through /opt/qvr/bin/config.ini to the workstation's
# configuration; the command-line client answers --help.
# Usage: run-installed.sh <packages> <has qvr: 0|1>
set -euo pipefail
packages=$1 has_cli=$2
# shellcheck source=tests/package/lib.sh
source "$(dirname "$0")/lib.sh"

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}

root=$work/root
extract "$(deb_of "$packages" qvr-opciones)" "$root"

# relink <link> <target>: the package's link must name <target>, which is
# absolute; it is then pointed at <target> inside the temporary root, as a
# chroot would resolve it.
relink() {
  local target
  target=$(readlink "$root$1")
  if [[ $target != "$2" ]]; then
    fail "$1 -> $target, not $2"
    return
  fi
  ln -sfn "$root$2" "$root$1"
}
relink /usr/bin/qvr-opciones /opt/qvr/bin/QVROpciones
relink /opt/qvr/bin/config.ini /etc/qvr/config.ini
if [[ $has_cli == 1 ]]; then relink /usr/bin/qvr /opt/qvr/bin/qvr; fi
export PATH=$root/usr/bin:$PATH
export XDG_DATA_HOME=$work/data
[[ $(command -v qvr-opciones) == "$root/usr/bin/qvr-opciones" ]] || fail "qvr-opciones is not the root's"

config=$root/etc/qvr/config.ini
printf '[rest]\nIP=10.1.2.3\nPuerto=0x1F90\nUID=caja1\n' >"$config"
chmod 0664 "$config"

# 1. Offscreen: it starts and keeps running, its executable being the real
# file in /opt/qvr/bin (what "beside the executable" is measured from).
QT_QPA_PLATFORM=offscreen qvr-opciones >"$work/offscreen.log" 2>&1 &
pid=$!
pids+=("$pid")
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  fail "qvr-opciones ended offscreen: $(cat "$work/offscreen.log")"
else
  [[ $(readlink "/proc/$pid/exe") == "$root/opt/qvr/bin/QVROpciones" ]] ||
    fail "qvr-opciones runs $(readlink "/proc/$pid/exe")"
  kill "$pid"
fi
wait "$pid" 2>/dev/null || true

# 2. Under Xvfb: the window appears with its title and the desktop entry's
# StartupWMClass, and "Guardar" writes the port in decimal through the link.
# Xvfb picks a free display itself and writes its number once it accepts
# clients, so tests running side by side cannot collide.
: >"$work/display"  # there before the background shell opens it
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>>"$work/display" >/dev/null 2>&1 &
pids+=("$!")
display=
for _ in $(seq 100); do
  display=$(cat "$work/display")
  [[ -n $display ]] && break
  sleep 0.1
done
[[ -n $display ]] || fail "Xvfb did not start"
export DISPLAY=":$display"
env -u QT_QPA_PLATFORM qvr-opciones >"$work/xvfb.log" 2>&1 &
pids+=("$!")
window=$(timeout 30 xdotool search --sync --name '^Opciones de conexíón a servidor web$' | head -1 || true)
if [[ -z $window ]]; then
  fail "no window 'Opciones de conexíón a servidor web': $(cat "$work/xvfb.log")"
else
  # Qt names the window's class after the command it was started by.
  xdotool search --class '^qvr-opciones$' | grep -qx "$window" ||
    fail "the window's class is not qvr-opciones (StartupWMClass)"
  # The centre of "Guardar" (541, 408, 75 x 25 in the window).
  xdotool mousemove --window "$window" 578 420 click 1
  for _ in $(seq 100); do grep -qx 'Puerto=8080' "$config" && break; sleep 0.1; done
  [[ -L $root/opt/qvr/bin/config.ini ]] || fail "the save replaced the link /opt/qvr/bin/config.ini"
  [[ $(cat "$config") == $'[rest]\nIP=10.1.2.3\nPuerto=8080\nUID=caja1' ]] ||
    fail "the saved configuration is: $(cat "$config")"
  [[ $(stat -c %a "$config") == 664 ]] || fail "the save changed config.ini's mode to $(stat -c %a "$config")"
fi

# 3. The command-line client.
if [[ $has_cli == 1 ]]; then
  if ! qvr --help >"$work/help.txt" 2>&1; then
    fail "qvr --help failed: $(cat "$work/help.txt")"
  elif [[ ! -s $work/help.txt ]]; then
    fail "qvr --help printed nothing"
  fi
fi

finish
