#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (the private Firebird server is
# started and stopped by the test suite itself).
#   BUILD_DIR  build folder (default: build)
#   IMPORTADOR_BUILD_BENCH  OFF leaves the benchmarks out of the build (CI: they are run by hand)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMPORTADOR_WERROR=ON \
  -DIMPORTADOR_BUILD_BENCH="${IMPORTADOR_BUILD_BENCH:-ON}"
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
ctest --output-on-failure -j2
