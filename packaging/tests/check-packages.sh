#!/usr/bin/env bash
# Checks the Debian packages made from a build tree (./k27 package): names and
# versions, control fields and dependencies, contents against the expected
# files and against a plain install, manual pages, maintainer scripts and
# lintian's findings. Then unpacks them into a scratch root, builds the
# example program from the installed source with the installed CMake
# package, and runs it against the installed daemon serving a simulated board.
#
# usage: check-packages.sh BUILD_DIR PACKAGE_DIR
set -uo pipefail

build_dir=$(cd "$1" && pwd)
package_dir=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d /tmp/k27-package-test.XXXXXX)
root=$work/root
daemon=
cleanup() {
  if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null; wait "$daemon" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
# check NAME COMMAND...: runs the command, counts it, shows its output on failure.
check() {
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
    sed -n '1,25s/^/    /p' "$work/check.log"
  fi
}
# Fatal when the rest cannot run without it.
require() { check "$@" || { echo "package test: cannot go on"; echo "packaging: $passed passed, $failed failed"; exit 1; }; }

version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
upstream=${version%-*}
arch=$(dpkg --print-architecture)
expected=$build_dir/packaging/expected-contents.txt
mapfile -t packages < <(awk '{print $1}' "$expected" | sort -u)
# The dictionaries hold no code: one package for every architecture.
arch_of() { if [ "$1" = k27-cctalk-dictionaries ]; then echo all; else echo "$arch"; fi; }
deb() { echo "$package_dir/${1}_${version}_$(arch_of "$1").deb"; }
# The library's folder in the packages: /usr/lib/<multiarch>.
libdir=$(awk '$2 ~ /\/libvantrelusb\.so\.[0-9]+$/ {print $2}' "$expected")
libdir=${libdir%/*}
field() { dpkg-deb -f "$(deb "$1")" "$2"; }

# --- The packages and their control fields. ---------------------------------
has_packages() {
  local p ok=0
  for p in "${packages[@]}"; do [ -f "$(deb "$p")" ] || { echo "missing $(deb "$p")"; ok=1; }; done
  # Nothing else: a stale package of another version would be installed along.
  [ "$(find "$package_dir" -maxdepth 1 -name '*.deb' | wc -l)" = "${#packages[@]}" ] ||
    { ls "$package_dir"; ok=1; }
  return $ok
}
require "the packages ${packages[*]} of version $version, and no others" has_packages

control_fields() {
  local p=$1 section=$2
  dpkg-deb --info "$(deb "$p")" >/dev/null || return 1
  [ "$(field "$p" Package)" = "$p" ] && [ "$(field "$p" Version)" = "$version" ] &&
    [ "$(field "$p" Architecture)" = "$(arch_of "$p")" ] && [ "$(field "$p" Source)" = k27 ] &&
    [ "$(field "$p" Section)" = "$section" ] && [ "$(field "$p" Priority)" = optional ] &&
    [[ "$(field "$p" Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || { dpkg-deb -f "$(deb "$p")"; return 1; }
  # A synopsis of its own on the first line, then a long description.
  local synopsis lines
  synopsis=$(field "$p" Description | head -n1)
  lines=$(field "$p" Description | wc -l)
  [ -n "$synopsis" ] && [ "${#synopsis}" -le 80 ] && [ "$lines" -ge 3 ] &&
    ! grep -qi "built using CMake" <<<"$synopsis" || { field "$p" Description; return 1; }
}
declare -A sections=([libvantrelusb35]=libs [libvantrelusb-dev]=libdevel [vantrelio]=admin
                     [k27diag]=electronics [k27-tools]=utils [k27-cctalk-dictionaries]=electronics
                     [python3-k27]=python)
for p in "${packages[@]}"; do check "$p: control fields" control_fields "$p" "${sections[$p]}"; done

# depends PACKAGE ENTRY...: each entry (a name, or "name (op version)") is among its Depends.
depends() {
  local p=$1 entry line found
  shift
  for entry in "$@"; do
    found=
    while IFS= read -r line; do
      [[ "$line" == "$entry" || "$line" == "$entry ("* ]] && found=1
    done < <(field "$p" Depends | tr ',' '\n' | sed 's/^ *//')
    [ -n "$found" ] || { echo "$p: no '$entry' in Depends: $(field "$p" Depends)"; return 1; }
  done
}
library=libvantrelusb35
exact="$library (= $version)"
check "$library: Depends from dpkg-shlibdeps" depends $library libc6 libstdc++6
check "libvantrelusb-dev: Depends on its library" depends libvantrelusb-dev "$exact"
check "vantrelio: Depends on libusb and adduser" depends vantrelio libc6 libusb-1.0-0 adduser
dictionaries="k27-cctalk-dictionaries (= $version)"
check "k27-tools: Depends on the library, nettle and the dictionaries" depends k27-tools "$exact" libc6 libnettle8 "$dictionaries"
if [ -n "${sections[k27diag]:-}" ] && [ -f "$(deb k27diag)" ]; then
  check "k27diag: Depends on the library, Qt, pugixml and the dictionaries" depends k27diag "$exact" libqt6widgets6 libpugixml1v5 "$dictionaries"
fi
if [ -f "$(deb python3-k27)" ]; then
  # For the one interpreter version the extension is built for.
  python_version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  python_next=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % (sys.version_info[0], sys.version_info[1] + 1))')
  check "python3-k27: Depends on the library, the dictionaries and this Python version" depends python3-k27 "$exact" "$dictionaries" \
    "python3 (>= $python_version~)" "python3 (<< $python_next)"
fi
# The dictionaries came with k27diag before this version.
took_over() {
  [ "$(field k27-cctalk-dictionaries Breaks)" = "k27diag (<< $version)" ] &&
    [ "$(field k27-cctalk-dictionaries Replaces)" = "k27diag (<< $version)" ] ||
    { dpkg-deb -f "$(deb k27-cctalk-dictionaries)"; return 1; }
}
check "k27-cctalk-dictionaries: Breaks and Replaces the k27diag that held them" took_over

# Every dependency outside this set is satisfied by this machine's packages:
# shlibdeps named real packages at versions that exist.
satisfiable() {
  local p entry name op want have ok=0
  for p in "${packages[@]}"; do
    while IFS= read -r entry; do
      [ -n "$entry" ] || continue
      name=${entry%% *}
      [[ " ${packages[*]} " == *" $name "* ]] && continue
      have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || { echo "$p: $name is not installed here"; ok=1; continue; }
      if [[ "$entry" =~ \((\>=|\<=|=|\>\>|\<\<)\ ([^\)]+)\) ]]; then
        op=${BASH_REMATCH[1]} want=${BASH_REMATCH[2]}
        case $op in '>=') op=ge ;; '<=') op=le ;; '=') op=eq ;; '>>') op=gt ;; '<<') op=lt ;; esac
        dpkg --compare-versions "$have" "$op" "$want" || { echo "$p: $entry, here $have"; ok=1; }
      fi
    done < <(field "$p" Depends | tr ',' '\n' | sed 's/^ *//')
  done
  return $ok
}
check "every outside dependency is satisfiable" satisfiable

control_member() { dpkg-deb --ctrl-tarfile "$(deb "$1")" | tar -xO "./$2"; }
library_control() {
  grep -qx "libvantrelusb $(readlink "$root$libdir/libvantrelusb.so" | sed 's/.*\.so\.//') $library (>= $version)" \
    <(control_member $library shlibs) || { control_member $library shlibs; return 1; }
  grep -qx "activate-noawait ldconfig" <(control_member $library triggers)
}
# The symbols file lists exactly what the packaged library exports (the C++
# library's own instances aside), each with a version no newer than this one.
library_symbols() {
  control_member $library symbols >"$work/symbols" || return 1
  head -n1 "$work/symbols" | grep -x "libvantrelusb.so.[0-9]* $library #MINVER#" >/dev/null || return 1
  sed -n 's/^ \([^ ]*\)@Base .*/\1/p' "$work/symbols" | LC_ALL=C sort >"$work/symbols.listed"
  local object symbol
  object=$(find "$root$libdir" -maxdepth 1 -type f -name 'libvantrelusb.so.*')
  nm -D --defined-only "$object" | awk '{print $3}' | while read -r symbol; do
    c++filt "$symbol" | grep -E '^(std::|__gnu_cxx::|typeinfo (name )?for std::|vtable for std::)' >/dev/null || echo "$symbol"
  done | LC_ALL=C sort -u >"$work/symbols.exported"
  diff -u "$work/symbols.listed" "$work/symbols.exported" || return 1
  local v
  for v in $(awk '/^ / {print $NF}' "$work/symbols" | sort -u); do
    dpkg --compare-versions "$v" le "$upstream" || { echo "symbol version $v is newer than $upstream"; return 1; }
  done
}

# --- Contents. --------------------------------------------------------------
mkdir -p "$root"
unpack() { local p; for p in "${packages[@]}"; do dpkg-deb -x "$(deb "$p")" "$root" || return 1; done; }
require "the packages unpack into a scratch root" unpack

contents() { dpkg-deb --contents "$(deb "$1")"; }
expected_files() {
  local ok=0 p path
  while read -r p path; do
    contents "$p" | awk '{print $6}' | grep -xF ".$path" >/dev/null || { echo "$p lacks $path"; ok=1; }
  done <"$expected"
  return $ok
}
check "each package holds its expected files" expected_files
root_owned() {
  local p
  for p in "${packages[@]}"; do
    contents "$p" | awk -v p="$p" '$2 != "root/root" {print p ": " $0; bad=1} END {exit bad}' || return 1
  done
}
check "every file belongs to root/root" root_owned
no_file_twice() {
  local p
  for p in "${packages[@]}"; do contents "$p" | awk '$1 !~ /^d/ {print $6}'; done | sort | uniq -d | tee "$work/twice"
  [ ! -s "$work/twice" ]
}
check "no file is in two packages" no_file_twice
check "$library: shlibs and the ldconfig trigger" library_control
check "$library: the symbols file lists what the library exports" library_symbols
check "$library: Recommends the daemon" grep -q "vantrelio" <(field $library Recommends)

# Built as the distribution's hardening wants: every program, library and
# Python extension binds at load with read-only relocations, the programs are PIE, and one
# that calls functions FORTIFY can check calls their checked forms.
hardened() {
  local elf ok=0 dyn imports
  while IFS= read -r elf; do
    file -b "$elf" | grep '^ELF' >/dev/null || continue
    dyn=$(readelf -dW "$elf")
    grep -qE 'FLAGS.*\bNOW\b|BIND_NOW' <<<"$dyn" || { echo "$elf: not BIND_NOW"; ok=1; }
    readelf -lW "$elf" | grep GNU_RELRO >/dev/null || { echo "$elf: no RELRO"; ok=1; }
    if [[ "$elf" == */bin/* || "$elf" == */sbin/* ]]; then
      grep -qE 'FLAGS_1.*\bPIE\b' <<<"$dyn" || { echo "$elf: not PIE"; ok=1; }
    fi
    # The Python extension's own code fills no fixed buffers: FORTIFY may
    # leave it nothing to check.
    [[ "$elf" == "$root/usr/lib/python3/"* ]] && continue
    imports=$(nm -D --undefined-only "$elf" | awk '{print $2}')
    if grep -qxE '(memcpy|memmove|memset|snprintf|vsnprintf|sprintf|strcpy|strncpy|read|fgets)(@.*)?' <<<"$imports" &&
       ! grep -qE '^__[a-z_]+_chk(@.*)?$' <<<"$imports"; then
      echo "$elf: calls functions FORTIFY checks, none in their checked form"; ok=1
    fi
  done < <(find "$root/usr/bin" "$root/usr/sbin" "$root$libdir" "$root/usr/lib/python3" -type f 2>/dev/null)
  return $ok
}
check "programs and library hardened: BIND_NOW, RELRO, PIE, FORTIFY" hardened

# A plain install of the same tree puts nothing anywhere that no package has.
plain_install_covered() {
  cmake --install "$build_dir" --prefix "$work/plain" >/dev/null || return 1
  local path ok=0
  while IFS= read -r path; do
    [ -e "$root/usr/$path" ] || [ -L "$root/usr/$path" ] || { echo "installed but in no package: $path"; ok=1; }
  done < <(cd "$work/plain" && find . \( -type f -o -type l \) -printf '%P\n')
  return $ok
}
check "a plain install is covered by the packages" plain_install_covered
# The unit starts the daemon where that install put it, not where a package would.
plain_unit() { grep -qx "ExecStart=$work/plain/sbin/vantrelio --device-dir /run/vantrel \$VANTRELIO_OPTS" "$work/plain/lib/systemd/system/vantrelio.service"; }
check "a plain install's unit starts the daemon from that install" plain_unit

vantrelio_control() {
  grep -qx /etc/default/vantrelio <(control_member vantrelio conffiles) || return 1
  local s
  for s in postinst prerm postrm; do control_member vantrelio $s >"$work/$s" && sh -n "$work/$s" || return 1; done
  grep -q '^EnvironmentFile=-/etc/default/vantrelio$' "$root/usr/lib/systemd/system/vantrelio.service" &&
    grep -q '^ExecStart=/usr/sbin/vantrelio .*\$VANTRELIO_OPTS$' "$root/usr/lib/systemd/system/vantrelio.service" &&
    grep -q '^VANTRELIO_OPTS=' "$root/etc/default/vantrelio"
}
check "vantrelio: conffile, maintainer scripts, unit and options" vantrelio_control

# Only the daemon's user may open the raw devices, the bare part's and the
# board's: the board group reaches them through the daemon alone.
udev_rules() {
  local rules=$root/usr/lib/udev/rules.d/70-vantrel.rules ids
  ids=$(grep -c '^SUBSYSTEM=="usb".*ATTR{idVendor}==".*ATTR{idProduct}=="' "$rules")
  [ "$ids" = 2 ] || { echo "$ids rule(s) for the two identifiers"; cat "$rules"; return 1; }
  grep '^SUBSYSTEM' "$rules" | grep -v 'OWNER="vantrelio"' && return 1
  grep '^SUBSYSTEM' "$rules" | grep -v 'MODE="0600"' && return 1
  ! grep -E '^[^#]*(GROUP=|uaccess)' "$rules"
}
check "vantrelio: udev gives both devices to the user vantrelio alone (0600, no group)" udev_rules

# The user and group the sysusers file declares, made in a scratch root.
sysusers_file() {
  local conf=$root/usr/lib/sysusers.d/vantrelio.conf users=$work/users
  mkdir -p "$users/etc"
  systemd-sysusers --root="$users" "$conf" || return 1
  cat "$users/etc/passwd" "$users/etc/group"
  grep -qE '^vantrelio:x:[0-9]+:[0-9]+:[^:]*:/nonexistent:/usr/sbin/nologin$' "$users/etc/passwd" &&
    grep -q '^vantrel:x:' "$users/etc/group" &&
    [ "$(awk -F: '$1 == "vantrelio" {print $3}' "$users/etc/passwd")" -lt 1000 ]
}

# The unit, as systemd would read it from the installed files: the verifier
# without complaint, the sandbox rated 2.0 or less. The scratch root lacks
# the system's own units and /bin/kill (ExecReload): the dependencies are
# not followed, and kill is taken from this machine.
unit_clean() {
  local checked=$work/unit-root
  rm -rf "$checked" && mkdir -p "$checked/usr/bin" && cp -a "$root/usr/lib" "$root/usr/sbin" "$checked/usr/" &&
    cp "$(type -P kill)" "$checked/usr/bin/" && ln -s usr/bin "$checked/bin" || return 1
  SYSTEMD_LOG_COLOR=0 systemd-analyze verify --man=no --recursive-errors=no --root="$checked" vantrelio.service \
    >"$work/verify" 2>&1
  local verified=$?
  cat "$work/verify"
  [ "$verified" = 0 ] && [ ! -s "$work/verify" ] || return 1
  SYSTEMD_COLORS=0 systemd-analyze security --offline=yes --root="$checked" vantrelio.service >"$work/security" 2>&1
  grep '✗' "$work/security"
  local score
  score=$(sed -n 's/.*Overall exposure level for vantrelio.service: \([0-9.]*\).*/\1/p' "$work/security")
  echo "exposure: ${score:-none}"
  [ -n "$score" ] && awk -v s="$score" 'BEGIN {exit !(s <= 2.0)}'
}
if command -v systemd-analyze >/dev/null && command -v systemd-sysusers >/dev/null; then
  check "vantrelio: systemd-sysusers makes the system user vantrelio and the group vantrel" sysusers_file
  check "vantrelio.service: systemd-analyze verify is clean, the exposure is 2.0 or less" unit_clean
  grep '^exposure' "$work/check.log" | sed 's/^/  /'
else
  failed=$((failed + 1))
  echo "FAIL: systemd-analyze or systemd-sysusers is missing (Debian: systemd); the unit and users are not checked"
fi

# The installed programs find their libraries, the board library in the root.
libraries_resolve() {
  local program out
  for program in "$root"/usr/bin/* "$root"/usr/sbin/*; do
    out=$(ldd "$program") || return 1
    if grep -q "not found" <<<"$out"; then echo "$program: $out"; return 1; fi
    if grep -q libvantrelusb <<<"$out" && ! grep -q "libvantrelusb.so.* => $root/" <<<"$out"; then
      echo "$program takes the board library from outside the root: $out"; return 1
    fi
    readelf -d "$program" | grep -E "RUNPATH|RPATH" | grep -F "$build_dir" && return 1
  done
  return 0
}
check "the installed programs' libraries resolve, none into the build tree" libraries_resolve

# --- Manual pages. ------------------------------------------------------------
man_pages() {
  local page program ok=0 text
  for page in "$root"/usr/share/man/man*/*.gz; do
    # groff's and man's warnings, as lintian reads them.
    LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>"$work/man.err" >/dev/null
    if [ -s "$work/man.err" ]; then echo "$page:"; cat "$work/man.err"; ok=1; fi
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
    grep -q '^NAME' <<<"$text" && grep -q '^SYNOPSIS' <<<"$text" || { echo "$page: no NAME or SYNOPSIS"; ok=1; }
  done
  for program in "$root"/usr/bin/* "$root"/usr/sbin/*; do
    compgen -G "$root/usr/share/man/man[18]/$(basename "$program").[18].gz" >/dev/null ||
      { echo "no manual page for $(basename "$program")"; ok=1; }
  done
  return $ok
}
check "manual pages: one per program, read by man -l without warnings" man_pages

# --- Maintainer scripts of vantrelio, against stand-ins of the system tools. --
stubs=$work/stubs
mkdir -p "$stubs"
# Two sets: with systemd-sysusers, and without it (nothing else on PATH, so
# that this machine's own is not found).
plain_stubs=$work/plain-stubs
mkdir -p "$plain_stubs"
for tool in getent addgroup adduser deb-systemd-helper deb-systemd-invoke systemctl udevadm systemd-sysusers; do
  cat >"$stubs/$tool" <<EOF
#!/bin/sh
echo "$tool \$*" >>"$work/calls"
[ "$tool \$1 \$2" = "getent group vantrel" ] && [ -n "\${K27_GROUP_EXISTS:-}" ] && exit 0
[ "$tool \$1 \$2" = "getent passwd vantrelio" ] && [ -n "\${K27_USER_EXISTS:-}" ] && exit 0
[ "$tool" = getent ] && exit 2
exit 0
EOF
  chmod +x "$stubs/$tool"
  [ "$tool" = systemd-sysusers ] || cp "$stubs/$tool" "$plain_stubs/$tool"
done
postinst_first_install() {
  rm -f "$work/calls"
  PATH=$plain_stubs /bin/sh "$work/postinst" configure || return 1
  cat "$work/calls"
  grep -qx "addgroup --system vantrel" "$work/calls" &&
    grep -qx "adduser --system --group --home /nonexistent --no-create-home --shell /usr/sbin/nologin vantrelio" "$work/calls" &&
    grep -qx "deb-systemd-helper enable vantrelio.service" "$work/calls"
}
postinst_group_exists() {
  rm -f "$work/calls"
  K27_GROUP_EXISTS=1 K27_USER_EXISTS=1 PATH=$plain_stubs /bin/sh "$work/postinst" configure 35.0-1 || return 1
  cat "$work/calls"
  ! grep -q "^addgroup\|^adduser" "$work/calls"
}
# systemd-sysusers, where there is one, makes both from the package's file
# (and the fallback's tools are not called).
postinst_sysusers() {
  rm -f "$work/calls"
  PATH=$stubs:/usr/bin:/bin sh "$work/postinst" configure || return 1
  cat "$work/calls"
  grep -qx "systemd-sysusers vantrelio.conf" "$work/calls" && ! grep -q "^addgroup\|^adduser" "$work/calls" || return 1
  rm -f "$work/calls"
  DPKG_ROOT=/target PATH=$stubs:/usr/bin:/bin sh "$work/postinst" configure || return 1
  grep -qx "systemd-sysusers --root=/target vantrelio.conf" "$work/calls"
}
remove_and_purge() {
  rm -f "$work/calls"
  PATH=$stubs:/usr/bin:/bin sh "$work/prerm" remove && PATH=$stubs:/usr/bin:/bin sh "$work/postrm" remove &&
    PATH=$stubs:/usr/bin:/bin sh "$work/postrm" purge || return 1
  cat "$work/calls"
  grep -qx "deb-systemd-helper mask vantrelio.service" "$work/calls" &&
    grep -qx "deb-systemd-helper purge vantrelio.service" "$work/calls" && ! grep -q "delgroup\|groupdel\|deluser\|userdel" "$work/calls"
}
check "vantrelio postinst without systemd-sysusers: adduser makes the user vantrelio and the group vantrel; the unit is enabled" postinst_first_install
check "vantrelio postinst without systemd-sysusers: keeps an existing user and group" postinst_group_exists
check "vantrelio postinst: systemd-sysusers makes them from the package's file" postinst_sysusers
check "vantrelio prerm/postrm: stop, mask, purge; the user and the group stay" remove_and_purge

# --- lintian, when installed. -------------------------------------------------
if command -v lintian >/dev/null; then
  lintian_clean() {
    # Root gets a warning from lintian about itself, not about the packages.
    local p debs=()
    for p in "${packages[@]}"; do debs+=("$(deb "$p")"); done
    lintian --info --pedantic --display-experimental "${debs[@]}" 2>&1 |
      grep -v "running with root privileges" >"$work/lintian"
    local errors warnings
    errors=$(grep -c '^E:' "$work/lintian")
    warnings=$(grep -c '^W:' "$work/lintian")
    echo "lintian: $errors error(s), $warnings warning(s)," \
      "$(grep -c '^[IPX]:' "$work/lintian") other finding(s)"
    grep -E '^[EWIPX]:' "$work/lintian"
    [ "$errors" = 0 ] && [ "$warnings" = 0 ]
  }
  check "lintian (pedantic) finds no error and no warning" lintian_clean
  sed -n 's/^/  /p' "$work/check.log"
else
  echo "package test: lintian is not installed; its check is skipped (Debian: lintian)"
fi

# --- The installed example program against the installed daemon. -----------
example_builds() {
  local examples=$root/usr/share/doc/libvantrelusb-dev/examples
  cmake -S "$examples" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" &&
    cmake --build "$work/example" &&
    PKG_CONFIG_PATH=$root$libdir/pkgconfig pkg-config --cflags --libs vantrelusb >"$work/pc" || return 1
  cat "$work/pc"
  # The package's folders are the system's: pkg-config names none of them.
  [ "$(xargs <"$work/pc")" = "-lvantrelusb" ] &&
    [ "$(PKG_CONFIG_PATH=$root$libdir/pkgconfig pkg-config --variable=libdir vantrelusb)" = "$libdir" ]
}
require "the example builds from its installed source and CMake package; pkg-config gives the system's folders" example_builds

example_runs() {
  local dev=$work/dev out
  env -u NOTIFY_SOCKET -u INVOCATION_ID "$root/usr/sbin/vantrelio" --simulate --device-dir "$dev" --boards 1 \
    2>"$work/daemon.log" &
  daemon=$!
  for _ in $(seq 600); do
    grep -q serving "$work/daemon.log" && break
    kill -0 "$daemon" 2>/dev/null || { cat "$work/daemon.log"; return 1; }
    sleep 0.05
  done
  grep -q serving "$work/daemon.log" || { cat "$work/daemon.log"; return 1; }
  "$root/usr/bin/k27simctl" --device-dir "$dev" serial A attach loopback || return 1
  out=$(VANTREL_DEVICE_DIR=$dev VANTREL_SHARED_NAMESPACE=k27-test-package-$$ \
        LD_LIBRARY_PATH=$root$libdir "$work/example/k27demo" 2>&1) || { echo "$out"; return 1; }
  echo "$out"
  grep -q '^EEPROM ' <<<"$out" || return 1
  kill -TERM "$daemon" && wait "$daemon"
  local status=$?
  daemon=
  [ "$status" = 0 ] && [ ! -e "$dev/ezusb-0" ] || { echo "daemon status $status"; cat "$work/daemon.log"; return 1; }
}
check "the installed example runs against the installed daemon in --simulate mode" example_runs

installed_tools() {
  "$root/usr/sbin/vantrelio" --help | grep -- --simulate >/dev/null && "$root/usr/bin/k27simctl" --help >/dev/null || return 1
  if [ -x "$root/usr/bin/k27ctl" ]; then
    "$root/usr/bin/k27ctl" --help >/dev/null && bash -n "$root/usr/share/bash-completion/completions/k27ctl" || return 1
  fi
  if [ -x "$root/usr/bin/k27diag" ]; then
    ls "$root"/usr/share/k27diag/dictionaries/*.xml >/dev/null &&
      grep -qx 'Exec=k27diag' "$root/usr/share/applications/k27diag.desktop" &&
      grep -qx 'Icon=k27diag' "$root/usr/share/applications/k27diag.desktop" || return 1
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$root/usr/share/applications/k27diag.desktop" || return 1
    fi
  fi
}
check "the installed tools answer --help; desktop entry, icon and dictionaries in place" installed_tools

# k27-tools with nothing but what it depends on (no k27diag) sends a ccTalk
# command by its name, found in the dictionaries' package; a name that is in
# no dictionary is a usage error naming the folder searched.
tools_alone() {
  local tools=$work/tools-root dev=$work/dev-cctalk p out status ok=0
  mkdir -p "$tools" || return 1
  for p in k27-tools k27-cctalk-dictionaries $library; do dpkg-deb -x "$(deb "$p")" "$tools" || return 1; done
  [ ! -e "$tools/usr/bin/k27diag" ] || return 1
  env -u NOTIFY_SOCKET -u INVOCATION_ID "$root/usr/sbin/vantrelio" --simulate --device-dir "$dev" --boards 1 \
    2>"$work/cctalk-daemon.log" &
  daemon=$!
  for _ in $(seq 600); do
    grep -q serving "$work/cctalk-daemon.log" && break
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.05
  done
  grep -q serving "$work/cctalk-daemon.log" || { cat "$work/cctalk-daemon.log"; return 1; }
  tool() { VANTREL_DEVICE_DIR=$dev VANTREL_SHARED_NAMESPACE=k27-test-cctalk-$$ LD_LIBRARY_PATH=$tools$libdir "$@"; }
  tool "$tools/usr/bin/k27simctl" --device-dir "$dev" serial B attach cctalk || ok=1
  out=$(tool "$tools/usr/bin/k27ctl" cctalk 2 "simple poll" 2>&1)
  status=$?
  echo "$out"
  [ "$status" = 0 ] && grep -q "ACK" <<<"$out" || ok=1
  out=$(tool "$tools/usr/bin/k27ctl" cctalk 2 "no such command" 2>&1)
  status=$?
  echo "$out"
  [ "$status" = 2 ] && grep -qF "$tools/usr/share/k27diag/dictionaries" <<<"$out" || ok=1
  kill -TERM "$daemon" && wait "$daemon" || ok=1
  daemon=
  rm -f /dev/shm/k27-test-cctalk-$$.*
  return $ok
}
check "k27-tools alone sends a ccTalk command by name from k27-cctalk-dictionaries" tools_alone

# --- The installed Python module against the installed daemon. -------------
if [ -f "$(deb python3-k27)" ]; then
  "$source_dir/tests/check-python-package.sh" "$root" "$(deb python3-k27)" "$source_dir/.." >"$work/python.log" 2>&1
  python_status=$?
  check "python3-k27: installed, it imports, talks to a simulated board and runs the example's tests" \
    sh -c "cat '$work/python.log'; exit $python_status"
  sed -n 's/^/  /p' "$work/check.log" | grep -E 'passed|failed' | tail -n 3
fi

# --- The installed daemon in its unit's confinement, emulated (as root). ---
"$source_dir/tests/check-sandbox.sh" "$root" >"$work/sandbox.log" 2>&1
sandbox=$?
if [ "$sandbox" = 77 ]; then
  cat "$work/sandbox.log"
else
  check "the installed daemon serves in its unit's sandbox (emulated), and only there" \
    sh -c "cat '$work/sandbox.log'; exit $sandbox"
  sed -n 's/^/  /p' "$work/check.log"
fi

# --- Sizes, for the record. ---------------------------------------------------
for p in "${packages[@]}"; do
  printf 'package test: %-20s %7s bytes, installed %5s KiB\n' "$p" "$(stat -c %s "$(deb "$p")")" "$(field "$p" Installed-Size)"
done
echo "packaging: $passed passed, $failed failed"
[ "$failed" = 0 ]
