#!/usr/bin/env bash
# Installs the given Debian packages that are not installed yet: the
# package index brought up to date, then only the missing ones; nothing
# when all are there.  As root, or through sudo.  Used by ./run and by CI.
# A package of another architecture (wine32:i386) adds that architecture to
# dpkg first.
#
#   tools/install_missing.sh [--foreign-may-fail REPORT] PACKAGE...
#
# A registry caught mid-sync ("File has unexpected size ... Mirror sync in
# progress?", "Hash Sum mismatch") answers apt-get with errors for a few
# minutes: the index update is tried again after a pause (TALLYMAT_APT_TRIES
# times, default 3, TALLYMAT_APT_PAUSE seconds apart, default 20, growing
# each time), and a refused install once more after a pause and another
# round of updates.  A package that still cannot be had is
# named with the registry's last error and the script fails, unless it is
# of a foreign architecture and --foreign-may-fail is given: its name and
# the error then go to REPORT, one line each, for the caller to report as
# a skipped stage.
set -euo pipefail
report=""
if [ "${1:-}" = "--foreign-may-fail" ]; then
  report=${2:?--foreign-may-fail needs a file}
  shift 2
  : > "$report"
fi
tries=${TALLYMAT_APT_TRIES:-3}
pause=${TALLYMAT_APT_PAUSE:-20}

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
is_foreign() { local arch=${1#*:}; [ "$arch" != "$1" ] && [ "$arch" != "$(dpkg --print-architecture)" ]; }

missing=()
for wanted in "$@"; do
  is_installed "$wanted" || missing+=("$wanted")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
echo "installing from Debian: ${missing[*]}"
for wanted in "${missing[@]}"; do
  arch=${wanted#*:}
  if is_foreign "$wanted" && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $sudo dpkg --add-architecture "$arch"
  fi
done

# The registry's complaint, in one line: its first error, else its last line.
first_error() { { grep -E '^E:' "$1" | head -n 1 || tail -n 1 "$1"; } | cut -c 1-240; }
index_error=
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt-get update keeps going with the old lists when an index fails, and
# says so by its exit status: then it is tried again, and at last the old
# lists are used (a package they name may still be had).
# A suite whose kept InRelease is older than the mirror's files fails on
# every try with the same size: its kept lists go, so the next try fetches
# the InRelease afresh.
forget_suite_lists() {
  local url suite
  url=$(grep -oE 'Failed to fetch https?://[^ ]*/dists/[^/ ]+/' "$log" | head -n 1 | sed -E 's|^Failed to fetch https?://||')
  [ -n "$url" ] || return 0
  suite=$(printf '%s' "${url%/}" | tr '/' '_')
  $sudo find /var/lib/apt/lists -maxdepth 1 -name "${suite}_*" -delete
}

update_index() {
  local attempt
  for ((attempt = 1; attempt <= tries; attempt++)); do
    if $sudo apt-get update -qq >"$log" 2>&1; then index_error=""; return 0; fi
    index_error=$(first_error "$log")
    echo "apt-get update, attempt $attempt of $tries: $index_error"
    forget_suite_lists
    if ((attempt < tries)); then sleep $((pause * attempt)); fi
  done
  echo "apt-get update kept failing; going on with the package lists as they are"
}

install_packages() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1
}

update_index
for attempt in 1 2; do
  if install_packages "${missing[@]}"; then exit 0; fi
  echo "apt-get install, attempt $attempt of 2: $(first_error "$log")"
  if ((attempt == 1)); then
    sleep "$pause"
    update_index
  fi
done

# Still refused: one package at a time, to name the ones that cannot be had.
failed=0
for wanted in "${missing[@]}"; do
  is_installed "$wanted" && continue
  install_packages "$wanted" && continue
  error=$(first_error "$log")${index_error:+ (the package index: $index_error)}
  if [ -n "$report" ] && is_foreign "$wanted"; then
    printf '%s\t%s\n' "$wanted" "$error" >> "$report"
    echo "could not install $wanted (left to the caller): $error"
  else
    echo "could not install $wanted: $error" >&2
    failed=1
  fi
done
exit $failed
