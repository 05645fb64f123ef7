#!/usr/bin/env bash
# Instructions per evaluation under callgrind, tallymat against native, for
# every benchmark formula: the figure that does not move on a noisy machine.
# Each side runs twice (N1 and N2 evaluations); the difference divided by
# N2 - N1 leaves out start-up and translation.
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

printf '%-4s %12s %10s %8s\n' "#" "tallymat Ir" "native Ir" "ratio"
log_sum=0
n=0
for index in $(seq 0 12); do
  mine=$(per_evaluation tallymat "$index")
  native=$(per_evaluation native "$index")
  ratio=$(awk -v a="$mine" -v b="$native" 'BEGIN { printf "%.2f", a / b }')
  log_sum=$(awk -v s="$log_sum" -v a="$mine" -v b="$native" 'BEGIN { printf "%.6f", s + log(a / b) }')
  n=$((n + 1))
  printf '%-4s %12s %10s %8s\n' "$index" "$mine" "$native" "$ratio"
done
awk -v s="$log_sum" -v n="$n" 'BEGIN { printf "geometric mean of the ratio: %.2f\n", exp(s / n) }'
