#!/usr/bin/env bash
# Installs what is missing, builds, starts the private server, creates a demo pair of
# databases (source with sample rows and photos, target empty) and opens the window.
# Without a display the window opens under xvfb-run.
#   DEMO_DIR  where the demo databases go (default: /tmp/importador-demo, or
#             /tmp/importador-demo-UID for a user other than root)
set -euo pipefail
cd "$(dirname "$0")/.."
# The window opens the demo files with the embedded engine too: same lock folder as the server.
. scripts/fb-env.sh
bash scripts/setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)"
bash scripts/fb-server-start.sh
if [ "$(id -u)" -eq 0 ]; then DEMO_DIR="${DEMO_DIR:-/tmp/importador-demo}"; fi
DEMO_DIR="${DEMO_DIR:-/tmp/importador-demo-$(id -u)}"
bash scripts/make-demo.sh "$BUILD_DIR" "$DEMO_DIR"
echo "Source: $DEMO_DIR/origem.fdb   Target: $DEMO_DIR/destino.fdb"
if [ -n "${DISPLAY:-}" ]; then
  exec "$BUILD_DIR/app/importador"
else
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$BUILD_DIR/app/importador"
fi
