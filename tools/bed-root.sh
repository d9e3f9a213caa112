#!/usr/bin/env bash
# The Wine the tests run under: Wine 10 or later, whose PulseAudio driver
# captures the playback device (loopback) as Windows does. Where the machine's
# own Wine is older (Debian 12 has Wine 8), a Debian 13 root made once with
# debootstrap from Debian's packages runs the tests; on a machine whose Wine is
# new enough, or with SONOTAPE_WINE=host, the commands run on the machine.
#
#   tools/bed-root.sh ensure          makes the root when it is needed and missing (or made
#                                     from another list of packages); safe against two at once
#   tools/bed-root.sh run -- CMD...   runs CMD in the root, in the current folder, in a mount
#                                     and PID namespace of its own with its own writable state
#   tools/bed-root.sh path            prints the root's folder (nothing when none is needed)
#
# The root is cached outside the clone (SONOTAPE_ROOT_CACHE, /var/cache/sonotape
# by default) and shared by every clone. A run sees the root through an overlay
# whose writable layer is a tmpfs of its own, with the work tree (and a build
# folder outside it) bind-mounted at the same paths as outside: whatever the run
# writes outside those is gone with it, and its processes and mounts end with
# its namespaces, also when it is killed. Needs root.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
cache=${SONOTAPE_ROOT_CACHE:-/var/cache/sonotape}
suite=trixie
min_wine=10

# What the tests use inside the root. The 32-bit Wine only where this kernel
# runs 32-bit programs (the host's own 32-bit loader answers).
packages() {
  local list=(wine wine64 libwine pulseaudio pulseaudio-utils xvfb x11-utils imagemagick
    cmake procps mount util-linux ffmpeg mpg123 madplay lame flac)
  if "$here/wine-loader.sh" runs x86 2>/dev/null; then list+=(wine32:i386); fi
  printf '%s\n' "${list[@]}"
}

wine_major() {  # of the machine's own Wine: "wine-8.0 (Debian ...)" -> 8
  local v
  v=$(/usr/lib/wine/wine64 --version 2>/dev/null || wine --version 2>/dev/null) || { echo 0; return; }
  v=${v#wine-}
  echo "${v%%.*}"
}

needed() { [ "${SONOTAPE_WINE:-$min_wine}" != host ] && [ "$(wine_major)" -lt "$min_wine" ]; }

root_dir() { echo "$cache/$suite-$(packages | sha256sum | cut -c1-12)"; }

# The Debian archive this machine installs from (its first apt source that is
# not the security archive), so the root comes from the same place.
debian_mirror() {
  local uri
  uri=$(awk '/^URIs:/ {print $2}' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v -- '-security' | head -n1)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
    /etc/apt/sources.list 2>/dev/null)
  [ -n "$uri" ] || { echo "bed-root: no Debian archive found in this machine's apt sources" >&2; return 1; }
  echo "$uri"
}

# Runs a command chrooted into $1 inside new mount and PID namespaces, with
# /proc, /dev and /sys of the namespace.
in_namespace() {
  local root=$1; shift
  unshare -m -p -f --kill-child -- bash -c '
    set -e
    root=$1; shift
    mount --make-rprivate /
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    mount --rbind /sys "$root/sys"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    exec chroot "$root" "$@"' bash "$root" "$@"
}

make_root() {
  local dir=$1 tmp mirror
  mirror=$(debian_mirror)
  command -v debootstrap >/dev/null || { echo "bed-root: debootstrap is missing (run tools/setup.sh)" >&2; return 1; }
  tmp="$dir.new.$$"
  rm -rf "$tmp"
  echo "bed-root: making a Debian 13 root for Wine $min_wine in $dir (once; several minutes)"
  local start=$SECONDS
  debootstrap --variant=minbase "$suite" "$tmp" "$mirror" >"$tmp.log" 2>&1 ||
    { echo "bed-root: debootstrap failed:" >&2; tail -n 20 "$tmp.log" >&2; rm -rf "$tmp"; return 1; }
  local list
  list=$(packages | tr '\n' ' ')
  # Recommended packages stay out, as on the machine itself.
  in_namespace "$tmp" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive bash -c "
    set -e
    case '$list' in *:i386*) dpkg --add-architecture i386 ;; esac
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $list
    apt-get clean" >>"$tmp.log" 2>&1 ||
    { echo "bed-root: installing the packages failed:" >&2; tail -n 20 "$tmp.log" >&2; rm -rf "$tmp"; return 1; }
  packages > "$tmp/.sonotape-packages"
  mv "$tmp.log" "$tmp/.sonotape-made.log"
  mv "$tmp" "$dir"
  echo "bed-root: made in $((SECONDS - start)) s: $(in_namespace "$dir" /usr/lib/wine/wine64 --version 2>/dev/null)"
}

ensure() {
  needed || return 0
  local dir
  dir=$(root_dir)
  [ -f "$dir/.sonotape-packages" ] && return 0
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  if [ ! -f "$dir/.sonotape-packages" ]; then
    # Roots made from other lists of packages, and what an interrupted making left.
    for old in "$cache/$suite"-*; do
      [ -e "$old" ] && [ "$old" != "$dir" ] && rm -rf "$old"
    done
    make_root "$dir"
  fi
  flock -u 9
}

# The variables a test run passes into the root; everything else starts fresh.
passed_env() {
  local name
  for name in CI JOBS TEST_JOBS CTEST_ARGS BUILD_ROOT TERM $(compgen -e | grep -E '^SONOTAPE_'); do
    [ -n "${!name+x}" ] && printf '%s=%s\0' "$name" "${!name}"
  done
  return 0
}

run() {
  [ "${1:-}" = "--" ] && shift
  if ! needed; then
    exec "$@"
  fi
  local dir
  dir=$(root_dir)
  [ -f "$dir/.sonotape-packages" ] || { echo "bed-root: no root yet (tools/bed-root.sh ensure)" >&2; return 1; }
  local mnt="$cache/mnt"
  mkdir -p "$mnt"
  # Folders of the machine the run works in, bind-mounted at the same paths:
  # the work tree, and the build root where it lies outside the tree.
  local binds=("$top")
  local build_root
  build_root=$(cd "${BUILD_ROOT:-build}" 2>/dev/null && pwd || true)
  if [ -n "$build_root" ]; then
    case "$build_root/" in "$top"/*) ;; *) binds+=("$build_root") ;; esac
  fi
  local envfile
  envfile=$(mktemp)
  passed_env > "$envfile"
  unshare -m -p -f --kill-child -- bash -c '
    set -e
    dir=$1 mnt=$2 envfile=$3 cwd=$4; shift 4
    binds=()
    while [ "$1" != "--" ]; do binds+=("$1"); shift; done
    shift
    mount --make-rprivate /
    mount -t tmpfs -o mode=755 tmpfs "$mnt"
    mkdir -p "$mnt/upper" "$mnt/work" "$mnt/root"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$mnt/upper,workdir=$mnt/work" "$mnt/root"
    r=$mnt/root
    mount -t proc proc "$r/proc"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
    mount --rbind /sys "$r/sys"
    mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
    for b in "${binds[@]}"; do mkdir -p "$r$b"; mount --rbind "$b" "$r$b"; done
    cp /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
    mapfile -d "" vars < "$envfile"
    rm -f "$envfile"
    exec chroot "$r" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
      LANG=C.UTF-8 "${vars[@]}" /bin/bash -c "cd \"\$0\" && exec \"\$@\"" "$cwd" "$@"
  ' bash "$dir" "$mnt" "$envfile" "$PWD" "${binds[@]}" -- "$@"
}

case "${1:-}" in
  ensure) ensure ;;
  run) shift; run "$@" ;;
  path) needed && root_dir || true ;;
  *) echo "usage: bed-root.sh ensure | run -- CMD... | path" >&2; exit 2 ;;
esac
