#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion against the built program: every option --help lists
# is offered after "--" and nothing else is; the options with a fixed list
# of values complete those values; file options and the picture complete
# file names; number options complete nothing.
#   completion_test.sh COMPLETION_SCRIPT VELLOMAR_RENDER
set -uo pipefail
completion="$1"
program="$2"
failures=0
fail() {
  echo "completion_test: $*" >&2
  failures=$((failures + 1))
}

# shellcheck source=/dev/null
source "$completion"
complete -p vellomar-render 2>/dev/null | grep -q -- '-F _vellomar_render' ||
  fail "vellomar-render is not registered with the completion function"

# Completes the words given (the last is the one under the cursor) and
# prints the candidates sorted, on one line.
complete_words() {
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _vellomar_render
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' '
}
expect() {  # EXPECTED WORDS...
  local expected="$1" got
  shift
  got="$(complete_words "$@")"
  [ "$got" = "$expected" ] || fail "completing '$*': got '$got', expected '$expected'"
}

# Every long option of --help, found here independently of the completion:
# each starts a line indented by two blanks (descriptions are indented
# further, even where a wrapped line starts with an option's name).
options="$("$program" --help | grep -oE '^  (-[[:alnum:]],)?--[[:alnum:]][[:alnum:]-]*' |
  sed -E 's/^  (-[[:alnum:]],)?//' | sort | tr '\n' ' ')"
[ "$(wc -w <<<"$options")" -ge 15 ] || fail "--help lists too few options to test: $options"
expect "$options" --
for option in --source --scale --brightness --stereo --input; do
  grep -q -- "$option " <<<"$options" || fail "--help does not list $option"
done
expect "--scale " --sc
expect "--stereo " --ste

expect "pink " --source pi
expect "mel " --scale m
expect "lin log " --brightness ""
expect "96000 " --rate 96
expect "" --gain ""
expect "" --threads 4

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/voice.wav" "$scratch/vista.png"
cd "$scratch" || exit 1
expect "voice.wav " --input vo
expect "vista.png voice.wav " v
expect "vista.png voice.wav " --stereo v
expect "voice.wav " --scale mel vo

[ "$failures" -eq 0 ] || exit 1
echo "completion_test: ok"
