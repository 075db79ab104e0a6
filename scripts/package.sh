#!/usr/bin/env bash
# Builds the program and makes its Debian package with CPack; prints the package's path.
#   BUILD_DIR    build folder the package is made from (default: build, the one test.sh uses)
#   PACKAGE_DIR  where the .deb goes (default: $BUILD_DIR/package)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
BUILD_DIR="${BUILD_DIR:-build}"
PACKAGE_DIR="${PACKAGE_DIR:-$BUILD_DIR/package}"

# A sanitizer or fuzzing build is no program to hand to an operator.
if [ -f "$BUILD_DIR/CMakeCache.txt" ] &&
  grep -Eq '^IMPORTADOR_(SANITIZE|FUZZ):BOOL=(ON|1|TRUE|YES)$' "$BUILD_DIR/CMakeCache.txt"; then
  echo "package: $BUILD_DIR is a sanitizer or fuzzing build; choose another BUILD_DIR" >&2
  exit 1
fi

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMPORTADOR_WERROR=ON >&2
# Only the program: cpack installs nothing else, so the tests need not be built for it.
cmake --build "$BUILD_DIR" -j"$(nproc)" --target importador >&2

mkdir -p "$PACKAGE_DIR"
PACKAGE_DIR="$(cd "$PACKAGE_DIR" && pwd)"
# A package left by an earlier version would be taken for this one below.
rm -f "$PACKAGE_DIR"/importador-patrimonio_*.deb
(cd "$BUILD_DIR" && cpack -G DEB -B "$PACKAGE_DIR/cpack" >&2)
mv "$PACKAGE_DIR"/cpack/importador-patrimonio_*.deb "$PACKAGE_DIR"/
rm -rf "$PACKAGE_DIR/cpack"

debs=("$PACKAGE_DIR"/importador-patrimonio_*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: cpack made no single importador-patrimonio package in $PACKAGE_DIR" >&2
  exit 1
fi
echo "${debs[0]}"
