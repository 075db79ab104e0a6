#!/usr/bin/env bash
# Stops the private Firebird server started by fb-server-start.sh.
#   fb-server-stop.sh                  stops the server whose pid is in $FB_ROOT/server.pid
#   fb-server-stop.sh --owner-file F   stops it only if F says this caller started it
set -euo pipefail
. "$(dirname "$0")/fb-env.sh"
PIDFILE="$FB_ROOT/server.pid"
if [ "${1:-}" = "--owner-file" ]; then
  [ -f "$2" ] || exit 0
  PIDFILE="$2"
fi
[ -f "$PIDFILE" ] || exit 0
pid="$(cat "$PIDFILE")"
if kill -0 "$pid" 2>/dev/null; then
  kill -TERM "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" || true
fi
rm -f "$PIDFILE" "$FB_ROOT/server.pid"
echo "fb-server: stopped"
