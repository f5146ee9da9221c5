#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds a user's program with
# pkg-config and with the CMake package, and runs it against the simulated
# daemon for every EEPROM capacity, checking the exchanges in the trace.
set -euo pipefail
build_dir=$1
libdir=${2:-lib}  # the library folder under the prefix
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/k27-install-test.XXXXXX)
daemon=
cleanup() {
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
# The daemon's readiness line, waited for as long as a loaded machine needs.
await_daemon() {
  for _ in $(seq 1500); do grep -q serving "$work/daemon.log" && return; sleep 0.02; done
  fail "the daemon did not start within 30 s: $(cat "$work/daemon.log")"
}

prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for f in include/vantrel/VantrelUSB.h include/vantrel/VantrelTypes.h include/vantrel/BoardRecords.h \
         sbin/vantrelio \
         "$libdir"/pkgconfig/vantrelusb.pc "$libdir"/cmake/VantrelUSB/VantrelUSBConfig.cmake \
         "$libdir"/libvantrelusb.so; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
# Nothing lands outside the prefix: the daemon's options file of the
# vantrelio component goes under it too.
cmake --install "$build_dir" --prefix "$prefix" --component vantrelio >/dev/null
[ -f "$prefix/etc/default/vantrelio" ] || fail "missing etc/default/vantrelio"
# The pkg-config file names the prefix installed to.
grep -qx "prefix=$prefix" "$prefix/$libdir/pkgconfig/vantrelusb.pc" || fail "pkg-config prefix"

# The library exports its interface and nothing else: its dynamic symbols
# are exactly the list kept beside this script (the C++ library's template
# instances aside, which come and go with the compiler).
exported=$work/exported-symbols.txt
nm -DC --defined-only "$prefix/$libdir"/libvantrelusb.so | cut -d' ' -f3- \
  | grep -v -E '^(std::|__gnu_cxx::|typeinfo (name )?for std::|vtable for std::)' \
  | LC_ALL=C sort -u >"$exported"
if ! diff -u <(grep -v '^#' "$source_dir/exported-symbols.txt") "$exported" >"$work/exports.diff"; then
  cat "$work/exports.diff" >&2
  fail "the library's exported symbols differ from exported-symbols.txt (diff above)"
fi

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Werror "$source_dir/consumer.cpp" -o "$work/consumer" \
  $(pkg-config --cflags --libs vantrelusb) -Wl,-rpath,"$prefix/$libdir"

mkdir -p "$work/cmake-consumer"
cp "$source_dir/consumer.cpp" "$work/cmake-consumer/"
cp "$source_dir/CMakeLists.txt.in" "$work/cmake-consumer/CMakeLists.txt"
cmake -S "$work/cmake-consumer" -B "$work/cmake-consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$prefix/$libdir" >/dev/null
cmake --build "$work/cmake-consumer/build" >/dev/null

export VANTREL_SHARED_NAMESPACE=k27-test-install
for capacity in 128 256 512 1024 2048 4096 8192 16384 32768 65536; do
  dev=$work/dev-$capacity
  trace=$work/trace-$capacity
  "$prefix/sbin/vantrelio" --simulate --device-dir "$dev" --eeprom-bytes "$capacity" \
    --trace "$trace" 2>"$work/daemon.log" &
  daemon=$!
  await_daemon
  VANTREL_DEVICE_DIR=$dev "$work/consumer" "$capacity" >/dev/null || fail "consumer failed for $capacity"
  kill "$daemon"; wait "$daemon" || true; daemon=

  # First connection: one query (no image), begin, 247 writes, end;
  # second: query only.
  [ "$(grep -c '^ezusb-0 ch=6 out=4A in=4A0000$' "$trace")" = 1 ] || fail "$capacity: first image query"
  [ "$(grep -c '^ezusb-0 ch=6 out=4A in=4A0001$' "$trace")" -ge 1 ] || fail "$capacity: second image query"
  [ "$(grep -c '^ezusb-0 ch=6 out=48 in=4800$' "$trace")" = 1 ] || fail "$capacity: download begin"
  [ "$(grep -c '^ezusb-0 ch=6 out=47' "$trace")" = 250 ] || fail "$capacity: image chunks + SRAM writes"
  grep -q '^ezusb-0 ch=6 out=473C000002' "$trace" || fail "$capacity: first image chunk"
  [ "$(grep -c '^ezusb-0 ch=6 out=49 in=4900$' "$trace")" = 1 ] || fail "$capacity: download end"
  # The EEPROM write at 8: 60 + 40 bytes, length first, address low byte first.
  grep -q '^ezusb-0 ch=2 out=043C0800030A' "$trace" || fail "$capacity: EEPROM write chunk"
  grep -q '^ezusb-0 ch=2 out=0428440' "$trace" || fail "$capacity: second EEPROM chunk"
  last=$(printf '%04X' $((capacity - 1)))
  grep -q "^ezusb-0 ch=2 out=03[0-9A-F]{4}${last}5[01] in=0300$" -E "$trace" || fail "$capacity: configure"
done

# The program built through the CMake package, against a fresh daemon.
"$prefix/sbin/vantrelio" --simulate --device-dir "$work/dev-cmake" --eeprom-bytes 4096 2>"$work/daemon.log" &
daemon=$!
await_daemon
VANTREL_DEVICE_DIR=$work/dev-cmake "$work/cmake-consumer/build/consumer_cmake" 4096 >/dev/null \
  || fail "CMake package consumer failed"
echo "install_test: ok"
