#!/usr/bin/env bash
# tallycalc with each of its first heap allocations failing in turn
# (support/fail_allocation.c, preloaded): every run ends with status 0 or 1
# and, when it fails, says why on standard error; none aborts.  In the C
# locale and, where it is generated, a Russian one (which reads the
# message catalogue and converts its texts).
#   allocation_failures.sh TALLYCALC PRELOAD [COUNT]
set -uo pipefail
tallycalc=$1 preload=$2 count=${3:-400}
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
locales=C.UTF-8
if locale -a 2>/dev/null | grep -qx 'ru_RU.utf8'; then locales+=" ru_RU.UTF-8"; fi
for locale in $locales; do
  for ((n = 1; n <= count; ++n)); do
    LC_ALL=$locale FAIL_ALLOCATION=$n LD_PRELOAD=$preload "$tallycalc" -D x=2 -e 'x*(x+1)' -e 'y = x+1' -e 'y/0' \
      >/dev/null 2>"$errors"
    status=$?
    if [ $status -gt 1 ] || { [ $status = 1 ] && [ ! -s "$errors" ]; }; then
      echo "$locale, allocation $n failing: status $status"; cat "$errors"; exit 1
    fi
  done
  echo "tallycalc survives each of its first $count allocations failing ($locale)"
done
