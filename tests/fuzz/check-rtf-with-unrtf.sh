#!/usr/bin/env bash
# Passes a sample of the RTF target's corpus through Debian's unrtf: the document the log writer
# makes for each input must give its text back through a reader that is not ours.
#   check-rtf-with-unrtf.sh [SAMPLE]   (default 300 files)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
SAMPLE="${1:-300}"
cmake --build "$BUILD_DIR" --target rtf_unrtf_check
corpus="$BUILD_DIR/corpus/fuzz_rtf"
[ -d "$corpus" ] || corpus="tests/fuzz/corpus/rtf"
find "$corpus" -type f | shuf -n "$SAMPLE" --random-source=<(yes) |
  xargs -d '\n' "$BUILD_DIR/tests/fuzz/rtf_unrtf_check"
