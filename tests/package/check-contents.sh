#!/usr/bin/env bash
# What each package holds, checked with dpkg-deb: files with their modes and
# link targets, the control fields, the maintainer scripts, the desktop entry
# (desktop-file-validate), the metainfo (appstreamcli), the icon sizes and
# the core's headers.
# Usage: check-contents.sh <packages> <version> <app id> <multiarch> <source dir> <has qvr: 0|1>
set -euo pipefail
packages=$1 version=$2 app=$3 multiarch=$4 source=$5 has_cli=$6
# shellcheck source=tests/package/lib.sh
source "$(dirname "$0")/lib.sh"

declare -A entry  # path -> "mode owner[ -> target]" of the package listed last

# list <deb>: fills entry from the package's data.
list() {
  entry=()
  local mode owner path rest
  while read -r mode owner _ _ _ path rest; do
    path=${path#.}
    [[ $path != / ]] && path=${path%/}
    entry[$path]="$mode $owner${rest:+ $rest}"
  done < <(dpkg-deb -c "$1")
}

# expect <mode> <path> [<link target>]: the entry is there, owned by root,
# with that mode (and target).
expect() {
  local want="$1 root/root${3:+ -> $3}"
  if [[ -z ${entry[$2]+set} ]]; then
    fail "$package: $2 is missing"
  elif [[ ${entry[$2]} != "$want" ]]; then
    fail "$package: $2 is '${entry[$2]}', not '$want'"
  fi
}

# absent <regex>: no path of the package matches.
absent() {
  local path
  for path in "${!entry[@]}"; do
    [[ $path =~ $1 ]] && fail "$package: holds $path"
  done
  return 0
}

# field <name>: a control field of the package.
field() { dpkg-deb -f "$deb" "$1"; }

# depends_on <package>...: each is named in Depends.
depends_on() {
  local depends name
  depends=$(field Depends)
  for name in "$@"; do
    [[ ", $depends," =~ ,\ "$name"[\ ,] ]] || fail "$package: Depends '$depends' lacks $name"
  done
}

# control_dir: the folder of the package's control archive, unpacked on first use.
control_dir() {
  local control=$work/control-$package
  if [[ ! -d $control ]]; then
    mkdir -p "$control"
    dpkg-deb -e "$deb" "$control"
  fi
  echo "$control"
}

# maintainer_scripts <name>...: each is in the control archive, 0755 and valid sh.
maintainer_scripts() {
  local control name
  control=$(control_dir)
  for name in "$@"; do
    if [[ ! -f $control/$name ]]; then
      fail "$package: no $name"
      continue
    fi
    [[ $(stat -c %a "$control/$name") == 755 ]] || fail "$package: $name is not 0755"
    sh -n "$control/$name" || fail "$package: $name is not valid sh"
  done
}

# conffiles <path>...: exactly these are the package's conffiles.
conffiles() {
  local control want got
  control=$(control_dir)
  want=$(printf '%s\n' "$@")
  got=$(cat "$control/conffiles" 2>/dev/null || true)
  [[ $got == "$want" ]] || fail "$package: conffiles are '$got', not '$want'"
}

# common: what every package has.
common() {
  list "$deb"
  [[ $(field Package) == "$package" ]] || fail "$package: Package field is $(field Package)"
  [[ $(field Version) == "$version" ]] || fail "$package: Version $(field Version), not $version"
  expect -rw-r--r-- "/usr/share/doc/$package/copyright"
  expect -rw-r--r-- "/usr/share/doc/$package/changelog.gz"
  zcat "$(extracted "/usr/share/doc/$package/changelog.gz")" | head -1 |
    grep -qx "qvr ($version) stable; urgency=medium" || fail "$package: changelog is not of $version"
}

# version_note <path>: the packaged (stripped) executable still carries the
# version note, four 16-bit numbers, little-endian.
version_note() {
  local parts want="" i n got
  IFS=. read -r -a parts <<<"$version"
  for i in 0 1 2 3; do
    n=${parts[i]:-0}
    want+=$(printf '%02x %02x ' $((n & 255)) $((n >> 8)))
  done
  got=$(readelf -n "$(extracted "$1")" | sed -n '/^  QVR /,/description data:/s/^ *description data: *//p')
  got=${got%"${got##*[![:space:]]}"}
  [[ $got == "${want% }" ]] || fail "$package: $1 carries the version note '$got', not '${want% }'"
}

# extracted <path>: the path in the package's extracted root.
extracted() { echo "$work/root-$package$1"; }

# --- qvr-opciones ---------------------------------------------------------------
package=qvr-opciones
deb=$(deb_of "$packages" $package)
extract "$deb" "$(extracted "")"
common
root=$(extracted "")
expect -rwxr-xr-x /opt/qvr/bin/QVROpciones
version_note /opt/qvr/bin/QVROpciones
expect lrwxrwxrwx /opt/qvr/bin/config.ini /etc/qvr/config.ini
expect lrwxrwxrwx /usr/bin/qvr-opciones /opt/qvr/bin/QVROpciones
expect -rw-r--r-- /etc/qvr/config.ini
expect -rw-r--r-- "/usr/share/applications/$app.desktop"
expect -rw-r--r-- "/usr/share/metainfo/$app.metainfo.xml"
expect -rw-r--r-- "/usr/share/icons/hicolor/scalable/apps/$app.svg"
expect -rw-r--r-- /usr/share/man/man1/qvr-opciones.1.gz
expect -rw-r--r-- /usr/share/lintian/overrides/qvr-opciones
for size in 16 22 24 32 48 64 128 256; do
  png=/usr/share/icons/hicolor/${size}x$size/apps/$app.png
  expect -rw-r--r-- "$png"
  # Width and height from the PNG header.
  read -r -a header < <(od -An -tu1 -j16 -N8 "$root$png")
  width=$(( (header[0] << 24) | (header[1] << 16) | (header[2] << 8) | header[3] ))
  height=$(( (header[4] << 24) | (header[5] << 16) | (header[6] << 8) | header[7] ))
  [[ $width == "$size" && $height == "$size" ]] || fail "$png is ${width}x$height"
done
if [[ $has_cli == 1 ]]; then
  expect -rwxr-xr-x /opt/qvr/bin/qvr
  version_note /opt/qvr/bin/qvr
  expect lrwxrwxrwx /usr/bin/qvr /opt/qvr/bin/qvr
  expect -rw-r--r-- /usr/share/man/man1/qvr.1.gz
  expect -rw-r--r-- /usr/share/bash-completion/completions/qvr
  bash -n "$root/usr/share/bash-completion/completions/qvr" || fail "$package: the completion of qvr is not valid bash"
else
  absent '^/(opt/qvr/bin|usr/bin)/qvr$'
  absent '^/usr/share/bash-completion(/|$)'
fi
# Only the programs, config.ini and the packaging's own files.
absent '^/(usr/lib|usr/include|var)(/|$)'
conffiles /etc/qvr/config.ini
maintainer_scripts postinst postrm
grep -q 'dpkg-statoverride --update --add root qvr 2775 /etc/qvr$' "$work/control-$package/postinst" ||
  fail "$package: postinst does not give /etc/qvr to the group qvr"
depends_on adduser libcurl4 libssl3 libqt6widgets6 libqt6gui6 libqt6core6 libc6
# The fresh configuration names the address a fresh config.ini would.
if ! grep -qx 'IP=127.0.0.1' "$root/etc/qvr/config.ini" || ! grep -qx 'Puerto=8080' "$root/etc/qvr/config.ini"; then
  fail "$package: config.ini does not name 127.0.0.1:8080"
fi

desktop=$root/usr/share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $app.desktop"
for line in "Name=Opciones de conexión" "Exec=qvr-opciones" "Icon=$app" "Type=Application" \
            "Categories=Settings;" "StartupWMClass=qvr-opciones"; do
  grep -qxF "$line" "$desktop" || fail "$app.desktop lacks '$line'"
done
# The metainfo together with the desktop entry and icons it names.
report=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "appstreamcli refuses the metainfo: $report"
grep -qF "<release version=\"$version\"" "$root/usr/share/metainfo/$app.metainfo.xml" ||
  fail "the metainfo's release is not $version"
zcat "$root/usr/share/man/man1/qvr-opciones.1.gz" | grep -q '^\.SH FILES' ||
  fail "qvr-opciones(1) has no FILES section"

# --- qvr-server -------------------------------------------------------------------
package=qvr-server
deb=$(deb_of "$packages" $package)
extract "$deb" "$(extracted "")"
common
root=$(extracted "")
expect -rwxr-xr-x /usr/bin/qvr-server
version_note /usr/bin/qvr-server
expect -rw-r--r-- /lib/systemd/system/qvr-server.service
expect -rw-r--r-- /etc/default/qvr-server
expect -rw-r--r-- /usr/share/man/man1/qvr-server.1.gz
# The data folder is the maintainer scripts' to make, with its owner.
absent '^/(var|opt|usr/lib|usr/include)(/|$)'
conffiles /etc/default/qvr-server
maintainer_scripts postinst prerm postrm
grep -q 'adduser --system' "$work/control-$package/postinst" || fail "$package: postinst makes no system user"
depends_on adduser libc6 libsqlite3-0 libstdc++6
unit=$root/lib/systemd/system/qvr-server.service
for line in "User=qvr-server" \
            "ExecStart=/usr/bin/qvr-server --listen 127.0.0.1:8080 --data /var/lib/qvr-server \$QVR_SERVER_OPTIONS" \
            "ReadWritePaths=/var/lib/qvr-server" "WantedBy=multi-user.target"; do
  grep -qxF "$line" "$unit" || fail "qvr-server.service lacks '$line'"
done
# The man page comes from --help: every option the program takes is in it.
while read -r option; do
  zcat "$root/usr/share/man/man1/qvr-server.1.gz" | grep -qF -- "${option//-/\\-}" ||
    fail "qvr-server(1) lacks $option"
done < <("$root/usr/bin/qvr-server" --help | grep -oE '^  --[a-z-]+')

# --- libqvrcore-dev ---------------------------------------------------------------
package=libqvrcore-dev
deb=$(deb_of "$packages" $package)
extract "$deb" "$(extracted "")"
common
root=$(extracted "")
lib=/usr/lib/$multiarch
expect -rw-r--r-- "$lib/libqvrcore.a"
expect -rw-r--r-- "$lib/pkgconfig/qvrcore.pc"
for file in QVRCoreConfig QVRCoreConfigVersion QVRCoreTargets QVRCoreTargets-release; do
  expect -rw-r--r-- "$lib/cmake/QVRCore/$file.cmake"
done
depends_on zlib1g-dev libdeflate-dev libcurl4 libssl3
absent '^/(opt|etc|var|usr/bin)(/|$)'
# Headers only, and none of the HTTP layer's private ones (which name curl).
absent '^/usr/include/qvr/.*\.(cpp|cc|in)$'
absent '^/usr/include/qvr/(tests|app|server|bench)(/|$)'
absent '^/usr/include/qvr/rest/http/detail(/|$)'
# Every public header of the source tree ships.
while read -r header; do
  expect -rw-r--r-- "/usr/include/qvr/$header"
done < <(cd "$source" && find platform config data rest client -name '*.h' -not -path '*/detail/*')
# And nothing installed includes a header that is not installed.
while read -r header; do
  while read -r included; do
    [[ -f $root/usr/include/qvr/$included ]] || fail "$header includes $included, which is not installed"
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$root/usr/include/qvr/$header")
done < <(cd "$root/usr/include/qvr" && find . -name '*.h' -printf '%P\n')
grep -qx "prefix=/usr" "$root$lib/pkgconfig/qvrcore.pc" || fail "qvrcore.pc's prefix is not /usr"

finish
