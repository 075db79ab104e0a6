#!/usr/bin/env bash
# Run by hand, as root (or with sudo): builds the Debian package, installs it with apt into a
# fresh Debian 12 chroot, and starts the installed program the way the desktop's menu does (the
# Exec line of its desktop entry) as an ordinary user under Xvfb, until its window appears.
# Exits nonzero on any failure.
#   PACKAGE        a .deb to check instead of building one with scripts/package.sh
#   CHECK_CACHE    where the Debian 12 base (a tarball made by debootstrap) and the packages apt
#                  downloaded are kept between runs (default: /var/cache/importador-package-check)
#   REFRESH_BASE=1 make the base again with debootstrap
#   DEBIAN_MIRROR  default: the mirror apt uses on this machine, else deb.debian.org
#   WINDOW_TIMEOUT seconds to wait for the window (default: 60)
#   SCREENSHOT     where the screenshot of the window goes (default: beside the package)
#   KEEP_CHROOT=1  leave the chroot's folder for a look afterwards (its mounts are gone)
#   WITHOUT_RECOMMENDS=1  install the package with its Depends alone, as apt does when told not
#                  to install recommended packages
set -euo pipefail
cd "$(dirname "$0")/.."

SUITE=bookworm
TITLE="Importador patrimônio - By Quorvelin"
ENTRY=usr/share/applications/importador-patrimonio.desktop
OPERATOR=operador
CHECK_CACHE="${CHECK_CACHE:-/var/cache/importador-package-check}"
WINDOW_TIMEOUT="${WINDOW_TIMEOUT:-60}"

say() { printf 'package-check: %s\n' "$*" >&2; }
fail() {
  say "FAILED: $*"
  exit 1
}
elapsed() { printf '%d s' "$((SECONDS - $1))"; }

# The first URI of this machine's apt sources whose path ends as the given one (/debian,
# /debian-security), in one-line or deb822 form.
host_mirror() {
  local tail=$1 f uri
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(grep -Ev '^[[:space:]]*#' "$f" | grep -Eo "[a-z]+://[^[:space:]]+${tail}/?([[:space:]]|$)" |
      head -n1 | tr -d '[:space:]') || true
    if [ -n "$uri" ]; then
      echo "${uri%/}"
      return
    fi
  done
}

# ---------------------------------------------------------------------------------------------
# Inside a mount namespace of its own (see the end of the file): every mount made here vanishes
# with the namespace, whatever way the check ends, and none can reach the machine's own /dev.
inside() {
  local work=$1 deb=$2 root=$1/root
  local base="$CHECK_CACHE/debian-$SUITE-amd64.tar.zst"
  local mirror="${DEBIAN_MIRROR:-$(host_mirror /debian)}"
  local security
  security="$(host_mirror /debian-security)"
  mirror="${mirror:-http://deb.debian.org/debian}"
  security="${security:-http://deb.debian.org/debian-security}"
  # Globals, not locals: the trap below runs after this function has returned.
  xvfb_pid="" app_pid="" mounts=() chroot_dir=$root

  # shellcheck disable=SC2317  # run by the trap
  cleanup_inside() {
    local rc=$? m
    set +e # every step below is tried, whatever the one before it did
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null; fi
    # Anything else this check started inside the chroot (each by its own id).
    local p
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$chroot_dir" ] && kill -9 "${p#/proc/}" 2>/dev/null
    done
    for ((m = ${#mounts[@]} - 1; m >= 0; m--)); do
      umount "${mounts[m]}" 2>/dev/null || umount -l "${mounts[m]}" 2>/dev/null || true
    done
    exit "$rc"
  }
  trap cleanup_inside EXIT
  trap 'exit 130' INT TERM

  mkdir -p "$root" "$CHECK_CACHE/apt-archives/partial"

  local t=$SECONDS
  if [ "${REFRESH_BASE:-0}" = 1 ] || [ ! -f "$base" ]; then
    say "making the Debian 12 base with debootstrap from $mirror"
    debootstrap --arch=amd64 "$SUITE" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
      {
        tail -n 30 "$work/debootstrap.log" >&2
        fail "debootstrap (log: $work/debootstrap.log)"
      }
    chroot "$root" apt-get clean
    # Whole or not at all: a base cut short must not pass for one next time.
    tar -C "$root" --zstd -cf "$base.part" . && mv "$base.part" "$base"
    say "base made and kept in $base ($(elapsed "$t"))"
  else
    tar -C "$root" --zstd -xf "$base"
    say "base unpacked from $base ($(elapsed "$t"))"
  fi

  mount_in() { # type-or-bind source target
    local target="$root$3"
    mkdir -p "$target"
    if [ "$1" = bind ]; then mount --bind "$2" "$target"; else mount -t "$1" "$2" "$target"; fi
    mounts+=("$target")
  }
  mount_in proc proc /proc
  mount_in sysfs sysfs /sys
  mount_in tmpfs tmpfs /dev/shm
  mount_in devpts devpts /dev/pts
  mount_in bind "$CHECK_CACHE/apt-archives" /var/cache/apt/archives
  [ -c "$root/dev/null" ] || fail "the chroot has no /dev/null"

  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $SUITE main
deb $mirror $SUITE-updates main
deb $security $SUITE-security main
EOF
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # As in any chroot: packages may not start services (the recommended Firebird server would).
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
  # A throwaway system: dpkg need not sync every file, nor man-db index the manual pages.
  echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/unsafe-io"
  echo "man-db man-db/auto-update boolean false" | chroot "$root" debconf-set-selections

  in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }

  t=$SECONDS
  in_root apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get update"; }
  local file
  file="$(basename "$deb")"
  cp "$deb" "$root/tmp/$file"
  # As the README tells the administrator; apt also brings what the package recommends. Unlike
  # apt-get, apt deletes what it downloaded unless told to keep it for the next run.
  local recommends=()
  [ "${WITHOUT_RECOMMENDS:-0}" = 1 ] && recommends=(--no-install-recommends)
  in_root apt install -y -o APT::Keep-Downloaded-Packages=true "${recommends[@]}" "./tmp/$file" >>"$work/apt.log" 2>&1 </dev/null ||
    {
      tail -n 40 "$work/apt.log" >&2
      fail "apt install ./$file"
    }
  [ -x "$root/usr/bin/importador" ] || fail "apt installed no /usr/bin/importador"
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/importador-patrimonio.svg" ] ||
    fail "apt installed no icon"
  # shellcheck disable=SC2016  # dpkg-query's own fields
  say "package installed with apt ($(elapsed "$t")): $(in_root dpkg-query -W -f='${Package} ${Version}' importador-patrimonio)"

  t=$SECONDS
  in_root apt-get install -y -qq --no-install-recommends xvfb xauth x11-utils xdotool x11-apps \
    desktop-file-utils >>"$work/apt.log" 2>&1 </dev/null ||
    {
      tail -n 40 "$work/apt.log" >&2
      fail "installing Xvfb and the X tools"
    }
  say "Xvfb and the X tools installed ($(elapsed "$t"))"

  in_root desktop-file-validate "/$ENTRY" || fail "desktop-file-validate /$ENTRY"
  say "desktop entry valid"

  # An operator as adduser makes one: a home of their own, no password needed here.
  in_root adduser --disabled-password --gecos "" "$OPERATOR" >/dev/null
  local uid
  uid="$(in_root id -u "$OPERATOR")"

  # Xvfb chooses a free display itself: the X sockets are shared with the machine's network.
  local display
  mkfifo "$work/displayfd"
  chroot "$root" env -i PATH=/usr/bin:/bin Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp \
    3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t 20 display <"$work/displayfd" || fail "Xvfb did not start (log: $work/xvfb.log)"
  display=":$display"

  # The menu runs the entry's Exec line with its field codes dropped (this entry has none).
  local exec_line
  exec_line="$(sed -n 's/^Exec=//p' "$root/$ENTRY" | head -n1 | sed -E 's/ ?%[fFuUdDnNickvm]//g')"
  [ -n "$exec_line" ] || fail "no Exec line in /$ENTRY"
  say "starting \"$exec_line\" as $OPERATOR (uid $uid) on display $display"
  t=$SECONDS
  local home=/home/$OPERATOR
  chroot "$root" runuser -u "$OPERATOR" -- env -i HOME="$home" USER="$OPERATOR" LOGNAME="$OPERATOR" \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$display" \
    sh -c "cd \"\$HOME\" && exec $exec_line" >"$work/importador.log" 2>&1 &
  app_pid=$!

  as_operator() { chroot "$root" runuser -u "$OPERATOR" -- env -i DISPLAY="$display" "$@"; }
  local window=""
  while [ -z "$window" ]; do
    window="$(as_operator xdotool search --onlyvisible --name "^$TITLE\$" 2>/dev/null | head -n1)" || true
    [ -n "$window" ] && break
    if ! kill -0 "$app_pid" 2>/dev/null; then
      cat "$work/importador.log" >&2
      fail "the program ended before its window appeared"
    fi
    ((SECONDS - t < WINDOW_TIMEOUT)) || {
      cat "$work/importador.log" >&2
      fail "no window titled \"$TITLE\" after $WINDOW_TIMEOUT s"
    }
    sleep 0.5
  done
  say "window \"$TITLE\" appeared after $(elapsed "$t")"

  # The window is the installed program's, run by the operator.
  local pid owner wm_class
  pid="$(as_operator xdotool getwindowpid "$window")" || fail "the window names no process"
  [ "$(readlink "/proc/$pid/exe")" = "$root/usr/bin/importador" ] ||
    fail "the window belongs to $(readlink "/proc/$pid/exe"), not the installed program"
  owner="$(stat -c %u "/proc/$pid")"
  [ "$owner" = "$uid" ] || fail "the program runs as uid $owner, not $OPERATOR ($uid)"
  say "process $pid: /usr/bin/importador run by $OPERATOR (uid $owner)"
  # The menu ties the window to its entry through StartupWMClass.
  wm_class="$(as_operator xprop -id "$window" WM_CLASS)"
  grep -q "\"$(sed -n 's/^StartupWMClass=//p' "$root/$ENTRY")\"" <<<"$wm_class" ||
    fail "the entry's StartupWMClass does not match the window's $wm_class"
  say "$wm_class"

  sleep 1 # a frame or two more, for the screenshot
  if as_operator xwd -root -silent >"$work/window.xwd" &&
    convert "xwd:$work/window.xwd" "png:$SCREENSHOT.part" 2>/dev/null; then
    mv "$SCREENSHOT.part" "$SCREENSHOT"
    say "screenshot: $SCREENSHOT"
  else
    say "no screenshot (xwd or ImageMagick's convert failed); the check itself passed"
  fi
  if grep -q '[^[:space:]]' "$work/importador.log"; then
    say "the program's own output:"
    sed 's/^/    /' "$work/importador.log" >&2
  fi
}

if [ "${1:-}" = --inside ]; then
  inside "$2" "$3"
  exit 0
fi

# ---------------------------------------------------------------------------------------------
[ "$(id -u)" -eq 0 ] || fail "debootstrap and chroot need root: sudo bash $0"
for tool in debootstrap zstd; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (apt-get install $tool)"
done
start=$SECONDS

t=$SECONDS
if [ -n "${PACKAGE:-}" ]; then
  deb="$(realpath "$PACKAGE")"
else
  deb="$(bash scripts/package.sh)"
  say "package built ($(elapsed "$t"))"
fi
[ -f "$deb" ] || fail "no package at $deb"
say "checking $deb ($(stat -c %s "$deb") bytes)"
SCREENSHOT="${SCREENSHOT:-$(dirname "$deb")/package-check.png}"
export SCREENSHOT CHECK_CACHE WINDOW_TIMEOUT

mkdir -p "$CHECK_CACHE"
work="$(mktemp -d /var/tmp/importador-package-check.XXXXXX)"
cleanup() {
  local rc=$?
  if [ "${KEEP_CHROOT:-0}" = 1 ]; then
    say "chroot kept in $work/root"
  elif grep -q " $work/" /proc/self/mountinfo; then
    # Never delete through a mount; the namespace should have taken them all with it.
    say "something is still mounted under $work; left in place"
  elif [ "$rc" -ne 0 ]; then
    rm -rf --one-file-system "$work/root"
    say "logs kept in $work"
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT

unshare --mount --propagation private bash "$0" --inside "$work" "$deb" || fail "see above"
say "passed in $(elapsed "$start")"
