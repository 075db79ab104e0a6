#!/usr/bin/env bash
# Installs what is missing, builds, starts the private server, creates a demo pair of
# databases (source with sample rows and photos, target empty) and opens the window.
# Without a display the window opens under xvfb-run.
#   DEMO_DIR  where the demo databases go (default: /tmp/importador-demo)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)"
bash scripts/fb-server-start.sh
DEMO_DIR="${DEMO_DIR:-/tmp/importador-demo}"
bash scripts/make-demo.sh "$BUILD_DIR" "$DEMO_DIR"
echo "Source: $DEMO_DIR/origem.fdb   Target: $DEMO_DIR/destino.fdb"
if [ -n "${DISPLAY:-}" ]; then
  exec "$BUILD_DIR/app/importador"
else
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$BUILD_DIR/app/importador"
fi
