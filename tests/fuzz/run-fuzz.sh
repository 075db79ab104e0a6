#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz; clang's own warnings are not made errors
# there, CI's g++ build is the one that keeps warnings clean) and runs one of them.
#   run-fuzz.sh TARGET SECONDS [more libFuzzer options]
#   TARGET: fuzz_recompress | fuzz_rtf | fuzz_names | fuzz_skiplist
# The committed seeds in corpus/<name> are copied into build-fuzz/corpus/<TARGET>, which grows
# as the fuzzer finds new paths; crashes and their inputs go to build-fuzz/findings/<TARGET>/.
# Memory is capped at 256 MB and every input must finish within 10 s.
set -euo pipefail
cd "$(dirname "$0")/../.."
TARGET="$1"
SECONDS_TO_RUN="$2"
shift 2
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIMPORTADOR_FUZZ=ON -DIMPORTADOR_BUILD_BENCH=OFF
fi
cmake --build "$BUILD_DIR" --target "$TARGET"

seeds="tests/fuzz/corpus/${TARGET#fuzz_}"
work="$BUILD_DIR/corpus/$TARGET"
findings="$BUILD_DIR/findings/$TARGET"
mkdir -p "$work" "$findings"
cp -n "$seeds"/* "$work"/ 2>/dev/null || true
dict=()
[ -f "tests/fuzz/${TARGET#fuzz_}.dict" ] && dict=(-dict="tests/fuzz/${TARGET#fuzz_}.dict")

# A small quarantine: the default 256 MB of freed blocks would count against the 256 MB limit.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:quarantine_size_mb=16:malloc_context_size=20"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
exec "$BUILD_DIR/tests/fuzz/$TARGET" "$work" "${dict[@]}" \
  -rss_limit_mb=256 -malloc_limit_mb=256 -timeout=10 -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
  -artifact_prefix="$findings/" "$@"
