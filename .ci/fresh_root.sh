# Sourced by the CI stages that work in a bare Debian 12: a pristine
# bookworm root made by debootstrap (cached as a tarball in build-ci-root/),
# unpacked afresh into $root with /proc and /dev/pts mounted and the host's
# resolver.
# fresh_root returns 1 (after saying so loudly) when debootstrap cannot
# reach the mirror; the caller then skips its stage.
work=$PWD/build-ci-root
root=$work/root
pristine=$work/bookworm-pristine.tar

fresh_root_cleanup() {
  umount "$root/proc" 2>/dev/null || true
  umount "$root/dev/pts" 2>/dev/null || true
  if mountpoint -q "$root/dev/pts" 2>/dev/null || mountpoint -q "$root/proc" 2>/dev/null; then
    echo "cannot unmount inside $root: left in place"; return 0
  fi
  rm -rf "$root"
}

fresh_root() {
  # The Debian mirror this machine's apt uses (a local one too); without
  # one, debootstrap's own default.
  local mirror
  mirror=$(grep -hoE '(URIs:|^deb)[[:space:]]+[^[:space:]]+' /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null |
    awk '{print $2}' | grep -E '/debian/?$' | head -1 || true)
  mkdir -p "$work"
  if [ ! -f "$pristine" ]; then
    rm -rf "$root"
    if ! debootstrap --variant=minbase bookworm "$root" ${mirror:+"$mirror"} >"$work/debootstrap.log" 2>&1; then
      tail -5 "$work/debootstrap.log"
      echo "!!!! debootstrap could not build a bookworm root from ${mirror:-its default mirror}: this stage is SKIPPED !!!!"
      return 1
    fi
    tar -C "$root" -cf "$pristine" .
  fi
  trap fresh_root_cleanup EXIT
  fresh_root_cleanup
  mkdir -p "$root"
  tar -C "$root" -xf "$pristine"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc"
  # Pseudo-terminals, as on any installed system (tallycalc's terminal test).
  mount --bind /dev/pts "$root/dev/pts"
  rm -f "$root/dev/ptmx" && ln -s pts/ptmx "$root/dev/ptmx"
}

# Runs a command line in the root as root, with a plain environment.
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive bash -c "$1"
}
