#!/usr/bin/env bash
# By hand, not in CI: builds the tests with ThreadSanitizer in build-tsan and runs the suites
# whose code has more than one thread (the window with the run's thread, the runs with their
# photo workers, the faults). Reports from inside Debian's Qt and Firebird libraries, which are
# not built for the sanitizer, are suppressed (scripts/sanitize/tsan.supp); any other report
# fails the suite. The private server must be up (scripts/fb-server-start.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-tsan}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DIMPORTADOR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
cmake --build "$BUILD_DIR" -j"$(nproc)" --target app_tests runs_tests faults_tests faults_answer_tests db_tests
export QT_QPA_PLATFORM=offscreen
# The tests start isql and the register generator: threads after a fork are expected. The
# Firebird engine a photo-only pass loads into the process (a database opened by its bare path)
# holds more than the 64 nested locks the sanitizer's deadlock detector can follow, and the
# detector then aborts the process; races are still reported without it.
export TSAN_OPTIONS="halt_on_error=0 die_after_fork=0 report_signal_unsafe=0 detect_deadlocks=0 exitcode=66 suppressions=$ROOT/scripts/sanitize/tsan.supp"
status=0
for t in tests/db/db_tests tests/app/app_tests tests/runs/runs_tests tests/faults/faults_tests tests/faults/faults_answer_tests; do
  echo "== $t"
  "$BUILD_DIR/$t" || status=1
done
exit $status
