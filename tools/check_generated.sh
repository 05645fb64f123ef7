#!/usr/bin/env bash
# Regenerates every generated table into a folder of the build and fails on
# any difference from the committed file: the tables are the scripts'
# output, never edited by hand.
#   tools/check_generated.sh [FOLDER]   (default build/generated; needs python3-mpmath)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/generated}
mkdir -p "$out"
python3 tools/elementary_tables.py "$out"
python3 tools/powers_of_ten.py > "$out/powers_of_ten.inc"
status=0
for pair in exponential_tables.inc:src/elementary trigonometric_tables.inc:src/elementary \
            powers_of_ten.inc:src/translate; do
  file=${pair%%:*} committed=${pair#*:}/${pair%%:*}
  if ! diff -u "$committed" "$out/$file" > "$out/$file.diff"; then
    echo "$committed differs from what its script writes now:"; head -n 20 "$out/$file.diff"; status=1
  fi
done
[ $status = 0 ] && echo "the generated tables are what tools/elementary_tables.py and tools/powers_of_ten.py write"
exit $status
