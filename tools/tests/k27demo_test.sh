#!/usr/bin/env bash
# k27demo's command line, and what it says when the board is missing or a
# board call fails: the error's name, never a bare number.
set -uo pipefail
daemon=$1
simctl=$2
demo=$3
work=$(mktemp -d /tmp/k27-demo-test.XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "k27demo_test: $*" >&2; exit 1; }

# Expects exit status $1 from the demo run with the remaining arguments;
# leaves its standard output and error in $out and $err.
expect_status() {
  local want=$1
  shift
  VANTREL_DEVICE_DIR=$work "$demo" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  [ "$got" = "$want" ] || fail "k27demo $*: status $got, not $want (stderr: $err)"
}

expect_status 0 --help
grep -q '^usage: k27demo \[DEVICE-INDEX\]' <<<"$out" || fail "--help: no usage line"
grep -q 'Example program' <<<"$out" || fail "--help does not say what the program does"
expect_status 0 -h
# Bad command lines: one message naming the fault, status 2, nothing sent.
expect_status 2 --bogus
grep -q 'bad option --bogus' <<<"$err" || fail "unknown long option: $err"
expect_status 2 -x
grep -q 'bad option -x' <<<"$err" || fail "unknown short option: $err"
expect_status 2 --help=yes
expect_status 2 0 1
grep -q 'unexpected argument 1' <<<"$err" || fail "stray argument: $err"
for index in abc 16 1x ''; do
  expect_status 2 "$index"
  grep -q 'device index' <<<"$err" || fail "bad index '$index': $err"
done

# No daemon: the board is not there, said in words.
expect_status 1
grep -q 'board 0 is not there' <<<"$err" || fail "no daemon: $err"
grep -q 'error 0' <<<"$err" && fail "no daemon: a bare error number: $err"

"$daemon" --simulate --device-dir "$work" --boards 1 2>"$work/log" &
pid=$!
for _ in $(seq 500); do grep -q serving "$work/log" && break; sleep 0.02; done
grep -q serving "$work/log" || fail "daemon did not start: $(cat "$work/log")"
"$simctl" --device-dir "$work" serial A attach loopback || fail "loopback plug"

expect_status 0
grep -q '^EEPROM ' <<<"$out" || fail "demo run: $out"
expect_status 1 3
grep -Eq '^k27demo: (board 3 is not there|cannot connect to board 3: USB_)' <<<"$err" || fail "missing board: $err"

# EEPROM reads refused by the board (connecting reads it too): the failure
# carries the error's name.
"$simctl" --device-dir "$work" fault 2 05 status=3 || fail "fault"
expect_status 1
grep -Eq '^k27demo: .*: USB_[A-Z0-9_]+$' <<<"$err" || fail "failed call: $err"
"$simctl" --device-dir "$work" fault 2 05 none || fail "fault none"
exit 0
