#!/usr/bin/env bash
# Installs the given Debian packages that are not installed yet: one
# `apt-get update`, then only the missing ones; nothing when all are there.
# As root, or through sudo.  Used by ./run and by CI.  A package of another
# architecture (wine32:i386) adds that architecture to dpkg first.
set -euo pipefail
missing=()
for wanted in "$@"; do
  dpkg-query -W -f='${Status}' "$wanted" 2>/dev/null | grep -q 'install ok installed' || missing+=("$wanted")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
echo "installing from Debian: ${missing[*]}"
for wanted in "${missing[@]}"; do
  arch=${wanted#*:}
  if [ "$arch" != "$wanted" ] && [ "$arch" != "$(dpkg --print-architecture)" ] &&
     ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $sudo dpkg --add-architecture "$arch"
  fi
done
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
