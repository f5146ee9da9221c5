#!/usr/bin/env bash
# The daemon's USB capture of a demo run opens in tshark, which decodes the
# firmware load's setup packets and the board's bulk exchanges.
set -uo pipefail
daemon=$1
demo=$2
work=$(mktemp -d /tmp/k27-capture-test.XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "capture_test: $*" >&2; exit 1; }
command -v tshark >/dev/null || { echo "capture_test: tshark is not installed; skipped"; exit 77; }

"$daemon" --simulate --device-dir "$work" --capture "$work/usb.pcap" 2>"$work/log" &
pid=$!
for _ in $(seq 500); do grep -q serving "$work/log" && break; sleep 0.02; done
VANTREL_DEVICE_DIR=$work "$demo" >/dev/null || fail "demo failed"
kill "$pid"; wait "$pid"; pid=

decoded=$(tshark -r "$work/usb.pcap" -T fields -e usb.transfer_type -e usb.setup.bRequest -e usb.endpoint_address 2>/dev/null) \
  || fail "tshark cannot read the capture"
summary() { printf '%s\n' "$decoded" | sort | uniq -c | sort -rn | head -20; }
# Here-strings, not pipes: grep -q stops reading early, and under pipefail
# the writer's broken pipe would count as a failure.
grep -qE $'^0x02\t160' <<<"$decoded" || { summary; fail "no firmware-load request (0xA0) decoded"; }
grep -qE $'^0x03\t.*0x86' <<<"$decoded" || { summary; fail "no bulk IN on endpoint 0x86 decoded"; }
echo "capture_test: ok ($(printf '%s\n' "$decoded" | wc -l) records)"
