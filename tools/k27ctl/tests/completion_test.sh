#!/usr/bin/env bash
# The bash completion of k27ctl: commands, actions, options and their values,
# file and ccTalk command names quoted as one word. $2 is the k27ctl to ask
# for the ccTalk names.
set -uo pipefail
source "$1"
k27ctl=$2
fail() { echo "completion_test: $*" >&2; exit 1; }

# The candidates for the command line "$@" with the cursor after its last word.
complete_words() {
  COMP_WORDS=("$k27ctl" "$@")
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

# Global options after the command, once each beside the command's own.
[ "$(complete_words list --j)" = "--json" ] || fail "global option after the command"
[ "$(complete_words inputs --t)" = "--timeout" ] || fail "one --timeout: $(complete_words inputs --t)"
[ "$(complete_words -b 1 -t 2 di)" = "dips" ] || fail "command after short options"

# A file name with blanks comes back as one quoted word.
touch "$dir/end of line.bin"
[ "$(complete_words eeprom dump "$dir/end")" = "$dir/end\ of\ line.bin" ] ||
  fail "file name with blanks: $(complete_words eeprom dump "$dir/end")"

# ccTalk command names from the dictionaries the line names, quoted.
mkdir "$dir/dict"
cat >"$dir/dict/test.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<ccTalk>
<Transaction_Dictionary type="test" version="1.0">
  <Transaction><Transmit_Header code="254">Simple poll</Transmit_Header></Transaction>
  <Transaction><Transmit_Header code="242">Request serial number</Transmit_Header></Transaction>
  <Transaction><Transmit_Header code="241">Request software revision</Transmit_Header></Transaction>
</Transaction_Dictionary>
</ccTalk>
XML
names() { complete_words cctalk --dictionaries "$dir/dict" "$@"; }
[ "$(names 2 Sim)" = "Simple\ poll" ] || fail "ccTalk name: $(names 2 Sim)"
[ "$(names 2 'Request s')" = "Request\ serial\ number Request\ software\ revision" ] ||
  fail "ccTalk names: $(names 2 'Request s')"
[ "$(names 2 '"Request se')" = "Request\ serial\ number" ] || fail "quoted ccTalk name"
[ "$(names poll --header Sim)" = "Simple\ poll" ] || fail "ccTalk --header name"
[ "$(names p)" = "poll" ] || fail "cctalk action: $(names p)"
echo "completion_test: ok"
