#!/usr/bin/env bash
# The bash completion of k27ctl: commands, actions, options and their values.
set -uo pipefail
source "$1"
fail() { echo "completion_test: $*" >&2; exit 1; }

# The candidates for the command line "$@" with the cursor after its last word.
complete_words() {
  COMP_WORDS=(k27ctl "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _k27ctl
  echo "${COMPREPLY[*]}"
}

[ "$(complete_words li)" = "list" ] || fail "command: $(complete_words li)"
[ "$(complete_words --board 1 ee)" = "eeprom" ] || fail "command after --board"
[ "$(complete_words --serial K2700002 wa)" = "wait-input" ] || fail "command after --serial"
[ "$(complete_words wait-input 3 0 --wi)" = "--within" ] || fail "wait-input option"
[ "$(complete_words eeprom load --no)" = "--no-verify" ] || fail "load option"
[ "$(complete_words --js)" = "--json" ] || fail "global option"
[ "$(complete_words --board '')" = "0 1 2 3 4 5 6 7" ] || fail "board numbers"
[ "$(complete_words outputs b)" = "brightness" ] || fail "outputs action"
[ "$(complete_words reels status --wa)" = "--watch" ] || fail "reels option"
[ "$(complete_words serial '')" = "A B" ] || fail "serial port"
[ "$(complete_words serial B re)" = "receive" ] || fail "serial action"
[ "$(complete_words eeprom dump --format '')" = "bin hex" ] || fail "format"
[ "$(complete_words cctalk --port '')" = "A B" ] || fail "cctalk port"
dir=$(mktemp -d /tmp/k27ctl-completion.XXXXXX)
trap 'rm -rf "$dir"' EXIT
touch "$dir/image.hex"
[ "$(complete_words sram load "$dir/ima")" = "$dir/image.hex" ] || fail "file name: $(complete_words sram load "$dir/ima")"
echo "completion_test: ok"
