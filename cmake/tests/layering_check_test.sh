#!/usr/bin/env bash
# layering_check_test.sh CHECK: the layering check refuses an include that
# reaches a layer it must not, names where it is, and lets pass what may be
# included (the base layer, a header beside the file, the test helpers).
set -uo pipefail
check=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/k27-layering.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "layering_check_test: $*" >&2; exit 1; }

mkdir -p "$work"/{common/include/k27/common,protocol/src,drivers/vantrelio/include/vantrel/driver,drivers/vantrelio/src/server,boardapi/src/link,boardapi/tests,testsupport/include/vantrel/testsupport,tools}
touch "$work/common/include/k27/common/Hex.h" "$work/drivers/vantrelio/include/vantrel/driver/ControlHandler.h" \
  "$work/drivers/vantrelio/src/server/ControlServer.h" "$work/testsupport/include/vantrel/testsupport/SimDaemon.h" \
  "$work/boardapi/src/link/ControlServer.h"
printf '#include <vector>\n#include "k27/common/Hex.h"\n' >"$work/protocol/src/Codec.cpp"
# A header beside the file that shares its name with one of the daemon's.
printf '#include "ControlServer.h"\n' >"$work/boardapi/src/link/Link.cpp"
printf '#include <vantrel/testsupport/SimDaemon.h>\n' >"$work/boardapi/tests/client_test.cpp"
printf '#include <k27/common/Hex.h>\n' >"$work/tools/ctl.cpp"

"$check" "$work" >/dev/null || fail "a clean tree is refused: $("$check" "$work" 2>&1)"

refused() {  # FILE LINE-TEXT: the check fails and names FILE
  local file=$1 text=$2 out
  cp "$work/$file" "$work/$file.keep"
  printf '%s\n' "$text" >>"$work/$file"
  out=$("$check" "$work" 2>&1) && fail "'$text' in $file passes"
  grep -q "^$file:[0-9]*: includes" <<<"$out" || fail "'$text' in $file: the report does not name it: $out"
  mv "$work/$file.keep" "$work/$file"
}
refused protocol/src/Codec.cpp '#include "vantrel/driver/ControlHandler.h"'
refused protocol/src/Codec.cpp '#include <vantrel/testsupport/SimDaemon.h>'
refused boardapi/src/link/Link.cpp '#include <vantrel/driver/ControlHandler.h>'
refused boardapi/src/link/Link.cpp '#include "vantrel/testsupport/SimDaemon.h"'
refused boardapi/tests/client_test.cpp '#include "server/ControlServer.h"'
refused tools/ctl.cpp '  #  include <vantrel/driver/ControlHandler.h>'
"$check" "$work" >/dev/null || fail "the tree is not clean again after the cases"
echo "layering_check_test: 6 refused, clean trees pass"
