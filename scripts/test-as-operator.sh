#!/usr/bin/env bash
# Runs the tests that touch files, folders and databases once more as an operator has it: an
# ordinary user made with adduser (home 0700) and put in the group firebird, against the server
# run by the user firebird on 127.0.0.1:3052 (scripts/fb-service-3052.sh). Root hides permission
# faults; this run shows them. It reuses a build made by scripts/test.sh.
#   test-as-operator.sh [BUILD_DIR]      as root (default BUILD_DIR: build)
#   OPERATOR   the user the tests run as (default: importador-op; made when missing)
#   TEST_FILTER  the gtest filter (default: import runs, the asset step, photo-only pass, the
#              source rows and a page's photos read ahead, the copy before the purge,
#              compaction, and every test named *AsOperator*; the photo-only pass's
#              worker comparisons are left out: almost a minute, threads rather than files)
# Nothing else may answer on 127.0.0.1:3052 meanwhile: the server is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD_DIR="$(cd "${1:-build}" && pwd)"
OPERATOR="${OPERATOR:-importador-op}"
TEST_FILTER="${TEST_FILTER:-*ImportRun*:*AssetStep*:*PageBlobs*:*RowReadAhead*:*ImportEndToEnd*:*PhotoPass*:*TargetCopy*:*DatabaseBackup*:*Compaction*:*AsOperator*:*FilesFolder*:*RestoreOffer*:*DatabaseRestore*-*PhotoPassWorkers*}"
EXECUTABLES=(tests/core/core_tests tests/db/db_tests tests/runs/runs_tests tests/app/app_tests)

[ "$(id -u)" -eq 0 ] || { echo "test-as-operator: run it as root" >&2; exit 1; }
for exe in "${EXECUTABLES[@]}"; do
  [ -x "$BUILD_DIR/$exe" ] || { echo "test-as-operator: $BUILD_DIR/$exe not built" >&2; exit 1; }
done

if ! id "$OPERATOR" >/dev/null 2>&1; then
  adduser --quiet --disabled-password --gecos '' "$OPERATOR"
fi

# The operator reads the build and the sources (fixtures, scripts) where they are: the folders
# above them are made passable, the trees readable; nothing is made writable.
reachable() { runuser -u "$OPERATOR" -- test -r "$1" -a -x "$1"; }
for tree in "$ROOT" "$BUILD_DIR"; do
  if ! runuser -u "$OPERATOR" -- test -r "$tree/CMakeLists.txt" -o -r "$tree/CMakeCache.txt"; then
    dir="$tree"
    while [ "$dir" != / ]; do
      dir="$(dirname "$dir")"
      reachable "$dir" || chmod o+x "$dir"
    done
    if [ "$tree" = "$ROOT" ]; then
      # Only what the tests read (fixtures, scripts): the other build folders beside them may be
      # written meanwhile (CI builds the sanitizer's build while this run goes on).
      chmod o+rx "$ROOT"
      chmod -R o+rX "$ROOT/tests" "$ROOT/scripts" "$ROOT/CMakeLists.txt"
    else
      chmod -R o+rX "$tree"
    fi
  fi
done

# The server as Debian runs it, with the operator in its group.
bash scripts/fb-service-3052.sh --operator "$OPERATOR"

# A folder of the operator's on another file system than the databases: the compaction then
# copies the old file there and compares it byte for byte instead of linking it.
OTHER_FS="$(mktemp -d /tmp/importador-other-fs.XXXXXX)"
if mount -t tmpfs -o size=256m,mode=0700 tmpfs "$OTHER_FS" 2>/dev/null; then
  chown "$OPERATOR": "$OTHER_FS"
else
  echo "test-as-operator: no tmpfs could be mounted; the copy to another file system is not tried"
  rmdir "$OTHER_FS"; OTHER_FS=""
fi

start=$(date +%s)
LOGS="$(mktemp -d)"
trap 'bash scripts/fb-service-3052.sh --stop; rm -rf "$LOGS"; [ -n "$OTHER_FS" ] && umount "$OTHER_FS" && rmdir "$OTHER_FS"' EXIT
# The executables run side by side (they mostly wait on the server and the disk); each one's
# output is shown whole once all have ended.
pids=()
for i in "${!EXECUTABLES[@]}"; do
  # A new login: the operator's own groups (firebird among them), home and temporary folder.
  runuser -u "$OPERATOR" -- env -u TMPDIR -u XDG_RUNTIME_DIR -u FB_ROOT -u FIREBIRD_LOCK \
    QT_QPA_PLATFORM=offscreen IMPORTADOR_OTHER_FS="$OTHER_FS" "$ROOT/scripts/fb-env.sh" "$BUILD_DIR/${EXECUTABLES[$i]}" \
    --gtest_filter="$TEST_FILTER" --gtest_brief=1 > "$LOGS/$i" 2>&1 &
  pids+=($!)
done
failed=()
for i in "${!EXECUTABLES[@]}"; do
  status=0
  wait "${pids[$i]}" || status=$?
  echo "== ${EXECUTABLES[$i]} as $OPERATOR ($(id -Gn "$OPERATOR"))"
  cat "$LOGS/$i"
  ((status == 0)) || failed+=("${EXECUTABLES[$i]}")
done
echo "test-as-operator: $(( $(date +%s) - start )) s"
if ((${#failed[@]})); then
  echo "test-as-operator: failures in ${failed[*]}" >&2
  exit 1
fi
echo "test-as-operator: all passed as $OPERATOR"
