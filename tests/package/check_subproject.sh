#!/usr/bin/env bash
# tallymat as a sub-project: configured with and without a parent build type,
# then built and run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$here/subproject" -B "$work/none" -DTALLYMAT_SOURCE="$source" >/dev/null
cmake -S "$here/subproject" -B "$work/debug" -DTALLYMAT_SOURCE="$source" -DCMAKE_BUILD_TYPE=Debug >/dev/null
grep -qx 'CMAKE_BUILD_TYPE:STRING=' "$work/none/CMakeCache.txt"
cmake --build "$work/debug" -j 2 >/dev/null
"$work/debug/parent_host"
echo "sub-project build: fine"
