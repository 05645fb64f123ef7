#!/usr/bin/env bash
# tallycalc at a pseudo-terminal (script(1)): "sq" and Tab complete to
# "sqrt", the Up arrow brings the line back from the history, Ctrl-C cancels
# a half-typed line and prompts again, "quit" leaves, and the history file
# holds the lines entered (written as each is entered: nothing is written at exit).
set -euo pipefail
tallycalc=$1
if ! script -qec true /dev/null >/dev/null 2>&1; then
  echo "terminal session: no pseudo-terminal here; skipped"
  exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# One key sequence at a time, each after the line editor has taken the terminal.
type_slowly() {
  for keys in $'x = 16\n' $'sq\t(x)\n' $'\e[A\n' '1+2+' $'\x03' $'x*2\n' $'quit\n'; do
    sleep 0.5
    printf '%s' "$keys"
  done
  sleep 1
}
# exec: no shell stays between script and tallycalc to be killed by Ctrl-C.
output=$(type_slowly |
  HOME=$home XDG_STATE_HOME='' TERM=xterm NO_COLOR=1 timeout 20 script -qec "exec $tallycalc" /dev/null | tr -d '\r') ||
  { echo "terminal session: ended with status $? (keys, script, tr)"; exit 1; }
fail() { echo "terminal session: $1"; echo "$output" | cat -A | head -40; exit 1; }
grep -q 'type help' <<<"$output" || fail "no banner"
[ "$(grep -c '^4$' <<<"$output")" -ge 2 ] || fail "sqrt(x) did not run twice (completion, then history)"
grep -q '^32$' <<<"$output" || fail "after Ctrl-C the next line did not run"
grep -q 'error' <<<"$output" && fail "the cancelled line ran"
grep -qx 'sqrt(x)' "$home/.tallycalc_history" || fail "the history file lacks sqrt(x)"
grep -qx 'x\*2' "$home/.tallycalc_history" || fail "the history file lacks x*2"
echo "terminal session: completion, history, Ctrl-C and quit work"
