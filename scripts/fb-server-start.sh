#!/usr/bin/env bash
# Starts a private Firebird 3 server on 127.0.0.1:3052 (SYSDBA / quillfern), with its own
# root folder, as a plain background process run by the caller. If the port already answers to
# SYSDBA/quillfern, that server is used and nothing is started.
#   FB_ROOT, FIREBIRD_LOCK  as scripts/fb-env.sh sets them (a root folder per user; a lock folder
#                           of the server's own when the caller cannot use Debian's)
# With --owner-file F, the pid of a server this call started is written to F, so that
# fb-server-stop.sh --owner-file F stops only a server that its own caller started.
set -euo pipefail

OWNER_FILE=""
if [ "${1:-}" = "--owner-file" ]; then OWNER_FILE="$2"; fi
[ -n "$OWNER_FILE" ] && rm -f "$OWNER_FILE"

PORT=3052
PASSWORD=quillfern
. "$(dirname "$0")/fb-env.sh"
SYS_ROOT=/usr/lib/x86_64-linux-gnu/firebird/3.0
[ -d "$SYS_ROOT" ] || SYS_ROOT="$(dirname "$(dpkg -L firebird3.0-server-core | grep '/plugins.conf$' | head -1)")"

answers() {
  fbsvcmgr "127.0.0.1/$PORT:service_mgr" -user SYSDBA -password "$PASSWORD" -info_server_version >/dev/null 2>&1
}

if answers; then
  echo "fb-server: 127.0.0.1:$PORT already answers; using it"
  exit 0
fi

if [ -e "$FB_ROOT" ] && [ "$(stat -c %u "$FB_ROOT")" != "$(id -u)" ]; then
  echo "fb-server: $FB_ROOT belongs to another user; set FB_ROOT to a folder of your own" >&2
  exit 1
fi
mkdir -p -m 0700 "$FB_ROOT"
mkdir -p "$FB_ROOT/intl"
if [ -n "${FIREBIRD_LOCK:-}" ]; then
  mkdir -p -m 0700 "$FIREBIRD_LOCK"
  echo "fb-server: the lock folder /tmp/firebird refuses $(id -un); this server and the tests use $FIREBIRD_LOCK"
elif [ "$(id -u)" -eq 0 ]; then
  mkdir -p /tmp/firebird /var/log/firebird 2>/dev/null || true
fi
cat > "$FB_ROOT/firebird.conf" <<CONF
RemoteServicePort = $PORT
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $FB_ROOT/security3.fdb
ServerMode = Super
CONF
printf 'security.db = %s/security3.fdb\n{\n  RemoteAccess = false\n}\n' "$FB_ROOT" > "$FB_ROOT/databases.conf"
cp -f "$SYS_ROOT/plugins.conf" "$FB_ROOT/plugins.conf"
ln -sf "$SYS_ROOT/firebird.msg" "$FB_ROOT/firebird.msg"
# A symlinked libfbintl makes every character set "not installed": copy it.
cp -f "$SYS_ROOT/intl/libfbintl.so" "$FB_ROOT/intl/libfbintl.so"
[ -f "$SYS_ROOT/intl/fbintl.conf" ] && cp -f "$SYS_ROOT/intl/fbintl.conf" "$FB_ROOT/intl/fbintl.conf"

export FIREBIRD="$FB_ROOT"
if [ ! -f "$FB_ROOT/security3.fdb" ]; then
  echo "create database '$FB_ROOT/security3.fdb';" | isql-fb -q
  isql-fb -q -user SYSDBA -i /usr/share/firebird/3.0/security.sql "$FB_ROOT/security3.fdb"
  printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$PASSWORD" \
    | isql-fb -q -user SYSDBA "$FB_ROOT/security3.fdb"
fi

setsid /usr/sbin/firebird > "$FB_ROOT/server.out" 2>&1 < /dev/null &
echo $! > "$FB_ROOT/server.pid"
[ -n "$OWNER_FILE" ] && cp "$FB_ROOT/server.pid" "$OWNER_FILE"

for _ in $(seq 1 200); do
  if answers; then
    echo "fb-server: started on 127.0.0.1:$PORT (pid $(cat "$FB_ROOT/server.pid"), root $FB_ROOT)"
    exit 0
  fi
  if ! kill -0 "$(cat "$FB_ROOT/server.pid")" 2>/dev/null; then
    echo "fb-server: the server process ended; its output:" >&2
    cat "$FB_ROOT/server.out" >&2
    exit 1
  fi
  sleep 0.1
done
echo "fb-server: no answer on 127.0.0.1:$PORT after 20 s" >&2
exit 1
