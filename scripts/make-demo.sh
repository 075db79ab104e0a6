#!/usr/bin/env bash
# Makes a demo pair of databases through the private server on 127.0.0.1:3052:
#   DEMO_DIR/origem.fdb   the register to import, filled, with photos
#   DEMO_DIR/destino.fdb  the register to update: empty tables, its own organs and units
# Usage: make-demo.sh BUILD_DIR DEMO_DIR [generate_register options for the source...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:?usage: make-demo.sh BUILD_DIR DEMO_DIR}"
DEMO_DIR="${2:?usage: make-demo.sh BUILD_DIR DEMO_DIR}"
shift 2
GENERATOR="$BUILD_DIR/tests/runs/fixtures/generate_register"
[ -x "$GENERATOR" ] || { echo "make-demo.sh: $GENERATOR not built" >&2; exit 1; }
mkdir -p "$DEMO_DIR"
DEMO_DIR="$(cd "$DEMO_DIR" && pwd)"
ISQL=(isql-fb -q -b -user SYSDBA -password quillfern)

make_db() {  # path, extra DDL files...
  local db="$1"; shift
  rm -f "$db"
  printf "create database '127.0.0.1/3052:%s' user 'SYSDBA' password 'quillfern' page_size 8192 default character set NONE;\ncommit;\n" "$db" \
    | "${ISQL[@]}"
  { echo "set autoddl on;"; cat tests/fixtures/schema.sql "$@"; echo "commit;"; } \
    | "${ISQL[@]}" "127.0.0.1/3052:$db"
}

make_db "$DEMO_DIR/origem.fdb" tests/fixtures/source-view.sql
make_db "$DEMO_DIR/destino.fdb"
"$GENERATOR" --source "$DEMO_DIR/origem.fdb" "$@"
"$GENERATOR" --target "$DEMO_DIR/destino.fdb"
echo "Demo databases ready in $DEMO_DIR"
