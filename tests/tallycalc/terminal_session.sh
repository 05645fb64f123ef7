#!/usr/bin/env bash
# tallycalc at a pseudo-terminal (script(1)): "sq" and Tab complete to
# "sqrt(", the Up arrow brings the line back from the history, Ctrl-L clears
# the screen, Ctrl-C cancels a half-typed line and prompts again, "quit"
# leaves, and the history file holds the lines entered (appended as each is
# entered).  Then: prompts stay on the terminal when results are redirected,
# -i prompts after a file, the start-up file runs quietly first (--no-init
# skips it), and two sessions at once both keep every line in one history file.
set -euo pipefail
tallycalc=$1
# The session's English texts, whatever the caller's language.
export LC_ALL=C.UTF-8 LANGUAGE=
if ! script -qec true /dev/null >/dev/null 2>&1; then
  echo "terminal session: no pseudo-terminal here; skipped"
  exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# One key sequence at a time, each after the line editor has taken the terminal.
type_slowly() {
  local pause=$1; shift
  for keys in "$@"; do
    sleep "$pause"
    printf '%s' "$keys"
  done
  sleep 1
}
# exec: no shell stays between script and tallycalc to be killed by Ctrl-C.
session() {
  HOME=$home XDG_STATE_HOME='' TERM=xterm NO_COLOR=1 timeout 30 script -qec "exec $1" /dev/null | tr -d '\r'
}
fail() { echo "terminal session: $1"; echo "$output" | cat -A | head -40; exit 1; }

output=$(type_slowly 0.5 $'x = 16\n' $'sq\tx)\n' $'\e[A\n' $'\x0c' '1+2+' $'\x03' $'x*2\n' $'quit\n' |
  session "$tallycalc") || { echo "terminal session: ended with status $? (keys, script, tr)"; exit 1; }
grep -q 'type help' <<<"$output" || fail "no banner"
[ "$(grep -c '^4$' <<<"$output")" -ge 2 ] || fail "sqrt(x) did not run twice (completion, then history)"
grep -q $'\e\\[2J' <<<"$output" || fail "Ctrl-L did not clear the screen"
grep -q '^32$' <<<"$output" || fail "after Ctrl-C the next line did not run"
grep -q 'error' <<<"$output" && fail "the cancelled line ran"
grep -qx 'sqrt(x)' "$home/.tallycalc_history" || fail "the history file lacks sqrt(x)"
grep -qx 'x\*2' "$home/.tallycalc_history" || fail "the history file lacks x*2"

output=$(type_slowly 0.5 $'1+1\n' $'quit\n' | session "$tallycalc >$home/results.txt")
grep -q 'tallycalc> ' <<<"$output" || fail "no prompt on the terminal with standard output redirected"
[ "$(cat "$home/results.txt")" = 2 ] || fail "results.txt holds more than the result: $(cat -A "$home/results.txt")"

printf 'y = 5\n' >"$home/defs.tc"
output=$(type_slowly 0.5 $'y*2\n' $'quit\n' | session "$tallycalc $home/defs.tc -i")
grep -q '^y = 5$' <<<"$output" && grep -q '^10$' <<<"$output" || fail "-i did not prompt after the file"

mkdir -p "$home/.config/tallycalc" && printf 'k = 41  # quiet\n' >"$home/.config/tallycalc/init.tc"
output=$(type_slowly 0.5 $'k+1\n' $'quit\n' | session "$tallycalc")
grep -q '^42$' <<<"$output" && ! grep -q 'k = 41' <<<"$output" || fail "the start-up file did not run quietly"
output=$(type_slowly 0.5 $'k+1\n' $'quit\n' | session "$tallycalc --no-init")
grep -q 'error 4' <<<"$output" || fail "--no-init read the start-up file"
rm -r "$home/.config"

keys_of_lines() { keys=(); for i in $(seq "$1" "$2"); do keys+=("$i+0"$'\n'); done; keys+=($'quit\n'); }
keys_of_lines 1001 1030
type_slowly 0.1 "${keys[@]}" | session "$tallycalc" >/dev/null &
keys_of_lines 2001 2030
type_slowly 0.1 "${keys[@]}" | session "$tallycalc" >/dev/null
wait
output=$(cat "$home/.tallycalc_history")
[ "$(grep -cE '^(10|20)[0-9]{2}\+0$' <<<"$output")" = 60 ] || fail "two sessions at once lost lines of the history"
echo "terminal session: completion, history, Ctrl-L, Ctrl-C, quit, prompts, the start-up file and shared history work"
