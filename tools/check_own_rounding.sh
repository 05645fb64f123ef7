#!/usr/bin/env bash
# Fails unless the functions built for AVX-512 round in their own
# instructions: in the object of src/elementary/own_rounding.cpp, every
# instruction that computes on floating-point values (arithmetic, fused
# multiply-add, square root, rounding, comparison, conversion; x87 code of
# any kind) carries {rn-sae} or {sae}, but for an int32's conversion to a
# double, which is exact and raises nothing.  Such an instruction, run in
# the host's MXCSR, would round as the host says or raise a flag (or trap).
# The object must also define no code but its own functions: shared inline
# code, compiled there for AVX-512, could be the copy the linker keeps for
# the other files too.
#   tools/check_own_rounding.sh OBJECT [OBJDUMP] [NM]
# (The test also runs it on an SSE2 object, which must fail: the scan sees.)
set -euo pipefail
object=${1:?usage: check_own_rounding.sh OBJECT [OBJDUMP] [NM]}
objdump=${2:-objdump}
nm=${3:-nm}

listing=$("$objdump" -d --no-show-raw-insn "$object")
floating='^v?(add|sub|mul|div|sqrt|min|max|round|rndscale|getexp|getmant|scalef|range|reduce|fixupimm|rcp[0-9]*|rsqrt[0-9]*|dp|hadd|hsub|addsub)(ss|sd|ps|pd)$|^v?f(n)?m(add|sub|addsub|subadd)(132|213|231)?(ss|sd|ps|pd)$|^v?u?comis[sd]$|^v?cmp[a-z]*(ss|sd|ps|pd)$|^v?cvt|^f'
exact_conversion='^v?cvtsi2sdl?$'
offending=$(printf '%s\n' "$listing" | awk -F'\t' -v floating="$floating" -v exact="$exact_conversion" '
  NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
    split($2, words, " "); mnemonic = words[1]; operands = words[2]
    if (mnemonic !~ floating || $2 ~ /\{(rn-)?sae\}/) next
    if (mnemonic ~ exact && (mnemonic ~ /l$/ || operands ~ /^%(e[a-z]+|r[0-9]+d),/)) next
    print $1 "\t" $2
  }')
rounded=$(printf '%s\n' "$listing" | grep -c '{rn-sae}' || true)
if [ -n "$offending" ]; then
  echo "$object: floating-point instructions that round as MXCSR says or raise flags:"
  printf '%s\n' "$offending" | head -20
  exit 1
fi
if [ "$rounded" -lt 100 ]; then
  echo "$object: only $rounded instructions carry {rn-sae}: not the functions built for AVX-512"
  exit 1
fi
# Code symbols only (the tables, inline variables, are data), and not the
# templates over the number type, which no other file instantiates.
shared_code=$("$nm" --defined-only "$object" | awk '$2 ~ /^[TWi]$/ {print $3}' |
  grep -v -e '_own_roundingE' -e 'OwnRoundingNumber' || true)
if [ -n "$shared_code" ]; then
  echo "$object: defines code other files may share:"
  printf '%s\n' "$shared_code"
  exit 1
fi
echo "$object: $rounded instructions round to nearest in themselves; none rounds as MXCSR says; no shared code"
