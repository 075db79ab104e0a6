#!/usr/bin/env bash
# CTest clean-up after the test that stops the server: starts it again unless it answers. The
# argument is the suite's owner file; when it exists, the server belongs to the suite's run and
# the new one is recorded there so that the suite's own stop ends it.
set -euo pipefail
OWNER_FILE="${1:-}"
if fbsvcmgr 127.0.0.1/3052:service_mgr -user SYSDBA -password quillfern -info_server_version \
  >/dev/null 2>&1; then
  exit 0
fi
SCRIPTS="$(dirname "$0")/../../scripts"
if [ -n "$OWNER_FILE" ] && [ -f "$OWNER_FILE" ]; then
  exec bash "$SCRIPTS/fb-server-start.sh" --owner-file "$OWNER_FILE"
fi
exec bash "$SCRIPTS/fb-server-start.sh"
