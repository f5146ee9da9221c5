#!/usr/bin/env bash
# layering_check.sh ROOT: fails when a folder includes a header of a layer it
# must not reach. The wire protocol includes nothing of ours but the base
# layer; the board library includes only the protocol and the base layer
# (and its own image); the library's tests and the tools reach the daemon
# only through testsupport/. Reads the sources only: no build needed.
#
# An include names a header of ours when a header under ROOT ends with the
# path it gives; a quoted include found beside the including file is that
# file's own. An include is refused when every header it may name lies in a
# layer the including folder must not reach.
set -euo pipefail
root=${1:?usage: layering_check.sh ROOT}
cd "$root"

# Folder | the top-level folders it must not include from.
rules=(
  "protocol|drivers sim boardapi tools testsupport cctalk memfile diag firmware bench"
  "boardapi/include|drivers sim testsupport tools cctalk memfile diag bench"
  "boardapi/src|drivers sim testsupport tools cctalk memfile diag bench"
  "boardapi/tests|drivers tools diag bench"
  "tools|drivers sim diag bench"
)

headers=$(find . \( -path ./build -o -path ./.git \) -prune -o -type f -name '*.h' -print | sed 's#^\./##')
status=0
for rule in "${rules[@]}"; do
  folder=${rule%%|*}
  forbidden=${rule#*|}
  [ -d "$folder" ] || continue
  # file:line:#include "x" (or <x>), for every source and header of the folder.
  includes=$(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 |
    xargs -0 -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' || true)
  [ -n "$includes" ] || continue
  awk -v forbidden="$forbidden" -v folder="$folder" '
    BEGIN { n = split(forbidden, list, " "); for (i = 1; i <= n; i++) banned[list[i]] = 1 }
    FNR == NR { known[$0] = 1; name = $0; sub(/.*\//, "", name); byName[name] = byName[name] SUBSEP $0; next }
    {
      file = $0; sub(/:.*/, "", file)
      rest = substr($0, length(file) + 2)
      line = rest; sub(/:.*/, "", line)
      text = substr(rest, length(line) + 2)
      quoted = index(text, "\"") > 0
      path = text; sub(/^[^<"]*[<"]/, "", path); sub(/[>"].*$/, "", path)
      dir = file; sub(/\/[^\/]*$/, "", dir)
      if (quoted && ((dir "/" path) in known)) next
      name = path; sub(/.*\//, "", name)
      if (!(name in byName)) next
      count = split(substr(byName[name], 2), candidates, SUBSEP)
      matched = 0; allowed = 0; example = ""
      for (i = 1; i <= count; i++) {
        c = candidates[i]
        if (c != path && substr(c, length(c) - length(path)) != "/" path) continue
        matched++
        top = c; sub(/\/.*/, "", top)
        if (top in banned) { if (example == "") example = c } else allowed = 1
      }
      if (matched > 0 && !allowed) {
        printf "%s:%s: includes %s (%s): %s/ must not include a header of %s/\n",
               file, line, path, example, folder, substr(example, 1, index(example, "/") - 1)
        bad = 1
      }
    }
    END { exit bad }
  ' <(printf '%s\n' "$headers") <(printf '%s\n' "$includes") || status=1
done
if [ "$status" = 0 ]; then echo "layering: every folder includes only the layers it may reach"; fi
exit "$status"
