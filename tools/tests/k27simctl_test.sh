#!/usr/bin/env bash
# k27simctl against a running simulated daemon: each command reaches the
# board it names, and bad commands get a one-line error and exit status 2.
set -uo pipefail
daemon=$1
simctl=$2
work=$(mktemp -d /tmp/k27-simctl-test.XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "k27simctl_test: $*" >&2; exit 1; }

"$daemon" --simulate --device-dir "$work" --boards 2 2>"$work/log" &
pid=$!
for _ in $(seq 200); do grep -q serving "$work/log" && break; sleep 0.02; done
ctl() { "$simctl" --device-dir "$work" "$@"; }

[ "$(ctl inputs)" = "inputs=FFFFFFF8FF" ] || fail "board 0 power-up inputs: $(ctl inputs)"
[ "$(ctl --board 1 inputs)" = "inputs=FFFFFFF9FF" ] || fail "board 1 reads 1 on its address switches"
ctl inputs 0102030405 || fail "inputs set"
[ "$(ctl inputs)" = "inputs=0102030405" ] || fail "inputs read back"
ctl dips 07 && [ "$(ctl inputs)" = "inputs=0102030705" ] || fail "dips"
[ "$(ctl outputs)" = "on=0000000000 off=0000000000 brightness=0" ] || fail "outputs: $(ctl outputs)"
[ "$(ctl reels | wc -l)" = 3 ] || fail "reels"
grep -q '^reel 0: position=0 error=0 busy=0 sync=0$' <<<"$(ctl reels)" || fail "reel line"
ctl serial A attach loopback || fail "attach"
ctl serial B push 0A0B0C || fail "push"
ctl serial B echo short 2>/dev/null && fail "echo without a ccTalk device"
ctl serial B attach cctalk && ctl serial B echo short && ctl serial B echo altered && ctl serial B echo normal ||
  fail "echo modes of the ccTalk device"
ctl pulse 3 10 || fail "pulse"
ctl fault 2 06 status=3 2 || fail "fault"
ctl fault 2 06 none || fail "fault none"
grep -q '^usage: inputs' <<<"$(ctl inputs --help)" || fail "command help"

# Unplug takes the board's socket away; plugged in again it starts as a bare
# part, is loaded, and comes back under the same (lowest free) instance.
ctl --board 1 unplug || fail "unplug"
for _ in $(seq 200); do [ -e "$work/ezusb-1" ] || break; sleep 0.02; done
[ -e "$work/ezusb-1" ] && fail "ezusb-1 still there after unplug"
ctl --board 1 unplug 2>/dev/null && fail "a second unplug succeeds"
ctl --board 1 plug || fail "plug"
for _ in $(seq 200); do [ -e "$work/ezusb-1" ] && break; sleep 0.02; done
[ -e "$work/ezusb-1" ] || fail "ezusb-1 not back after plug"
grep -q 'firmware load at 1-2' "$work/log" || fail "no firmware load logged"
grep -q 'serial A|B attach' <<<"$("$simctl" --help)" || fail "--help"
grep -q -- '--device-dir DIR' <<<"$("$simctl" -h)" || fail "-h does not list the options"
version=$("$simctl" --version) || fail "--version exits $?"
[[ "$version" =~ ^k27simctl\ [0-9]+\.[0-9]+ ]] || fail "--version prints '$version'"

expect_usage() {
  local err
  err=$(ctl "$@" 2>&1 >/dev/null); local rc=$?
  [ $rc = 2 ] || fail "'$*' exits $rc, not 2"
  [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || fail "'$*' error is not one line: $err"
}
expect_usage inputs 01
expect_usage dips zz
expect_usage fault 9 06 short
expect_usage fault 2 06 sparks
expect_usage serial C attach loopback
expect_usage serial A attach modem
expect_usage serial B echo loud
expect_usage pulse 40 1
expect_usage launch
expect_usage --board 5 outputs
expect_usage --colour red outputs
expect_usage -x outputs
expect_usage --help=yes
expect_usage --board
expect_usage --device-dir "$work"

"$simctl" --device-dir "$work/none" outputs 2>/dev/null; [ $? = 1 ] || fail "no daemon is a failure, not a usage error"
echo "k27simctl_test: ok"
