#!/usr/bin/env bash
# Instructions per evaluation under callgrind, tallymat against native, for
# every benchmark formula: the figure that does not move on a noisy machine.
# Each side runs twice (N1 and N2 evaluations); the difference divided by
# N2 - N1 leaves out start-up, translation and compilation (N1 is past the
# JIT's default threshold).  The library runs once interpreted
# (TALLYMAT_JIT=0) and once as machine code.
set -euo pipefail
program=${1:?usage: count_instructions.sh path/to/tallymat_instructions}
n1=2000
n2=12000
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
per_evaluation() {
  local low high
  low=$(count "$1" "$2" $n1)
  high=$(count "$1" "$2" $n2)
  echo $(( (high - low) / (n2 - n1) ))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-4s %10s %10s %10s %12s %10s\n' "#" "native Ir" "interp Ir" "ratio" "compiled Ir" "ratio"
log_interpreted=0
log_compiled=0
n=0
for index in $(seq 0 12); do
  native=$(per_evaluation native "$index")
  interpreted=$(TALLYMAT_JIT=0 per_evaluation tallymat "$index")
  compiled=$(per_evaluation tallymat "$index")
  log_interpreted=$(awk -v s="$log_interpreted" -v a="$interpreted" -v b="$native" 'BEGIN { printf "%.6f", s + log(a / b) }')
  log_compiled=$(awk -v s="$log_compiled" -v a="$compiled" -v b="$native" 'BEGIN { printf "%.6f", s + log(a / b) }')
  n=$((n + 1))
  printf '%-4s %10s %10s %10s %12s %10s\n' "$index" "$native" "$interpreted" "$(ratio "$interpreted" "$native")" \
    "$compiled" "$(ratio "$compiled" "$native")"
done
awk -v i="$log_interpreted" -v c="$log_compiled" -v n="$n" \
  'BEGIN { printf "geometric mean of the ratio: interpreted %.2f, compiled %.2f\n", exp(i / n), exp(c / n) }'
