#!/bin/bash
# The build's generators answer --help and --version, and refuse a bad command
# line with one message and exit status 2 (a failed generation is 1).
# Usage: generator_options_test.sh IMAGEGEN RECORDGEN
set -uo pipefail
fail() { echo "generator_options_test: $*" >&2; exit 1; }
imagegen=$(realpath "$1") recordgen=$(realpath "$2")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || fail "no scratch folder"

for program in "$imagegen" "$recordgen"; do
  name=$(basename "$program"); name=${name#k27_}
  out=$("$program" --help) || fail "$name --help exits $?"
  grep -q "^usage: $name" <<<"$out" || fail "$name --help: no usage line"
  grep -q -- '--out FILE.cpp' <<<"$out" || fail "$name --help does not list its options"
  out=$("$program" --version) || fail "$name --version exits $?"
  [[ "$out" =~ ^$name\ [0-9]+\.[0-9]+ ]] || fail "$name --version prints '$out'"
  for bad in --bogus -x --help=yes stray --out; do
    err=$("$program" $bad 2>&1 >/dev/null); rc=$?
    [ $rc = 2 ] || fail "$name $bad exits $rc, not 2"
    [ "$(wc -l <<<"$err")" = 1 ] || fail "$name $bad: error is not one line: $err"
  done
  err=$("$program" --header h.h 2>&1 >/dev/null); rc=$?
  [ $rc = 2 ] || fail "$name without its outputs exits $rc, not 2"
done
err=$("$imagegen" --raw x --size 12k --name N --header h.h --out x.cpp 2>&1); rc=$?
[ $rc = 2 ] || fail "imagegen --size 12k exits $rc, not 2: $err"
err=$("$recordgen" --set V=0x10000 --header h.h --out x.cpp --sizes x.h 2>&1); rc=$?
[ $rc = 2 ] || fail "recordgen --set V=0x10000 exits $rc, not 2: $err"
echo "generator_options_test: ok"
