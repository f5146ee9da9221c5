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

# The board firmware's device descriptor against the identifiers served: a
# mismatch fails the generation (status 1) and says how to configure.
printf ':120D6B001201000100000040B4041386010001020001CC\n:03000000020E6588\n:00000001FF\n' >board.hex
"$recordgen" --device-ids B=0x04b4:0x8613 --hex B=board.hex --header h.h --out ok.cpp \
  --sizes ok.h || fail "recordgen refuses matching identifiers"
err=$("$recordgen" --device-ids B=0x1209:0x0001 --hex B=board.hex --header h.h --out x.cpp \
  --sizes x.h 2>&1); rc=$?
[ $rc = 1 ] || fail "recordgen with other identifiers exits $rc, not 1: $err"
grep -q 'presents itself as 04b4:8613.*serves boards with 1209:0001.*-DK27_BOARD_VENDOR_ID=0x04b4 -DK27_BOARD_PRODUCT_ID=0x8613' \
  <<<"$err" || fail "recordgen's identifier message: $err"
[ ! -e x.cpp ] || fail "recordgen left its output after refusing the identifiers"
printf ':03000000020E6588\n:00000001FF\n' >bare.hex
err=$("$recordgen" --device-ids B=1:2 --hex B=bare.hex --header h.h --out x.cpp --sizes x.h 2>&1)
[ $? = 1 ] && grep -q 'no device descriptor at 0x0D6B' <<<"$err" || fail "no descriptor: $err"
err=$("$recordgen" --device-ids B=0x1209 --hex B=board.hex --header h.h --out x.cpp --sizes x.h 2>&1)
[ $? = 2 ] || fail "recordgen --device-ids without a product is not a usage error: $err"
echo "generator_options_test: ok"
