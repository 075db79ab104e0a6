#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run the demo.
# Idempotent and non-interactive; nothing is fetched from outside Debian's archive.
set -euo pipefail

PACKAGES=(
  # build
  cmake make g++ pkg-config ninja-build clang-format dpkg-dev
  # libraries
  firebird-dev libfbclient2 libjpeg62-turbo-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libgtest-dev googletest
  # private Firebird server for tests and the demo
  firebird3.0-server firebird3.0-server-core firebird3.0-utils
  # window tests, screenshots, demo without a display, RTF reader for the log tests
  xvfb xauth xdotool imagemagick unrtf fonts-dejavu-core locales
  # sanitizers and fuzzing
  clang libclang-rt-dev
  # the photo benchmark's peers (bench only; ImageMagick is above)
  graphicsmagick libvips-tools
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # The server package asks for a SYSDBA password of the system service; answer it up front.
  echo "firebird3.0-server shared/firebird/sysdba_password/first_install password quillfern" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# pt_BR locale, for running the window as the operators do.
if ! locale -a 2>/dev/null | grep -qi '^pt_BR.utf8$'; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO sed -i 's/^# *pt_BR.UTF-8 UTF-8/pt_BR.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi
echo "setup: all packages present"
