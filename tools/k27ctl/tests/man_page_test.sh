#!/usr/bin/env bash
# The manual page names every command, every option of every command's
# --help, every JSON key the --help texts give, and the environment.
# $1: the page's scdoc source, $2: k27ctl.
set -uo pipefail
page=$1 k27ctl=$2
fail=0
missing() { echo "man_page_test: $1 is not in $page" >&2; fail=1; }

top=$("$k27ctl" --help) || { echo "man_page_test: k27ctl --help failed" >&2; exit 1; }
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$top" | awk 'NF > 1 {print $1}')
[ -n "$commands" ] || { echo "man_page_test: no commands in --help" >&2; exit 1; }
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$top" | sort -u); do
  grep -q -- "\*$option\*" "$page" || missing "global option $option"
done
for command in $commands; do
  grep -q "^\*$command[* ]" "$page" || missing "command $command"
  help=$("$k27ctl" "$command" --help)
  for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -q -- "\*$option\*" "$page" || missing "$command option $option"
  done
  for key in $(grep -o '"[a-z_0-9]*":' <<<"$help" | sort -u); do
    grep -qF -- "$key" "$page" || missing "$command JSON key $key"
  done
done
for variable in VANTREL_DEVICE_DIR VANTREL_REPLY_TIMEOUT_MS VANTREL_SHARED_NAMESPACE; do
  grep -q "^\*$variable\*" "$page" || missing "environment variable $variable"
done
grep -q '^# EXIT STATUS' "$page" || missing "the exit statuses"
[ $fail -eq 0 ] && echo "man_page_test: ok"
exit $fail
