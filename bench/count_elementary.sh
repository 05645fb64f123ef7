#!/usr/bin/env bash
# Instructions per call under callgrind of the library's elementary functions
# against the C runtime's, over bench/elementary.cpp's random arguments:
# two runs of N1 and N2 calls, their difference divided by N2 - N1.
#   bench/count_elementary.sh path/to/tallymat_elementary [--plain] [--throughput]
# (--plain: Dekker's products even where the CPU has FMA; --throughput: the
# independent calls instead of the chained ones)
set -euo pipefail
program=${1:?usage: count_elementary.sh path/to/tallymat_elementary [--plain] [--throughput]}
shift
options=("$@")
n1=100000
n2=300000
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$program" "${options[@]}" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
per_call() { echo $(( ($(count "$1" "$2" $n2) - $(count "$1" "$2" $n1)) / (n2 - n1) )); }
printf '%-6s %12s %12s %7s\n' "" "tallymat Ir" "runtime Ir" "ratio"
for function in exp ln lg pow sin cos tg arcsin arccos arctg; do
  ours=$(per_call $function tallymat)
  theirs=$(per_call $function runtime)
  printf '%-6s %12s %12s %7s\n' $function "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
done
