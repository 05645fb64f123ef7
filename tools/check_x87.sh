#!/usr/bin/env bash
# Fails when the library computes in the x87 unit: any x87 arithmetic,
# comparison or conversion (fadd, fabs, fild, fistp, fisttp, fsin, ...)
# anywhere in LIBRARY (which must carry its symbols: a stripped one names
# no function).  Two things are not the library's computing: the tables
# mingw-w64 keeps in .text (constructors, destructors, exception tables:
# data, which the disassembler reads as instructions), and the C++ runtime's hash-table sizing
# (std::__detail::_Prime_rehash_policy, float arithmetic on bucket counts)
# that the 32-bit DLL links in for the assembler's label tables: it runs
# only while a formula is compiled, inside the switch of the x87 unit, and
# no value of a formula passes through it.  With --only-returns (32-bit Linux, whose own
# functions pass doubles in SSE registers), also any x87 instruction at all
# in the library's C++ functions: loads of a returned double (fld, fldz,
# fld1) may remain only in the exported C functions, as the calling
# convention's return.
#   tools/check_x87.sh [--only-returns] LIBRARY [OBJDUMP]
set -euo pipefail
only_returns=false
if [ "${1:-}" = --only-returns ]; then only_returns=true; shift; fi
library=${1:?usage: check_x87.sh [--only-returns] LIBRARY [OBJDUMP]}
objdump=${2:-objdump}

listing=$("$objdump" -d --no-show-raw-insn "$library")
arithmetic='^f(add|sub|mul|div|abs|chs|sqrt|rndint|prem|scale|xtract|u?com|tst|xam|i[a-z]+|bld|bstp|sin|cos|sincos|ptan|patan|yl2x|yl2xp1|2xm1|cmov)'
offending=$(printf '%s\n' "$listing" | awk -F'\t' -v arithmetic="$arithmetic" -v only_returns="$only_returns" '
  /^[0-9a-f]+ <.*>:$/ { function_name = $0; sub(/^[0-9a-f]+ </, "", function_name); sub(/>:$/, "", function_name) }
  NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
    split($2, words, " "); mnemonic = words[1]
    if (mnemonic !~ /^f/ || mnemonic ~ /^fs$/) next
    if (function_name ~ /^\.(gcc_except_table|ctors|dtors)$/ || function_name ~ /_Prime_rehash_policy/) next
    if (mnemonic ~ arithmetic) { print function_name ": " $2; next }
    if (only_returns == "true" && function_name ~ /^_Z/) print function_name ": " $2
  }')
if [ -n "$offending" ]; then
  echo "$library: x87 code where the library must have none:"
  printf '%s\n' "$offending" | head -20
  exit 1
fi
loads=$(printf '%s\n' "$listing" | grep -cE $'\tfld' || true)
echo "$library: no x87 arithmetic$($only_returns && echo ", and x87 loads only in the exported functions' returns ($loads)")"
