#!/usr/bin/env bash
# Sets up, once, the Firebird server the program expects, run as Debian runs its own: a second
# instance of Debian's Firebird 3 run by the user `firebird`, answering on 127.0.0.1:3052 as
# SYSDBA/quillfern, beside Debian's own service (firebird3.0, port 3050), which keeps its port,
# its configuration and its security database.
#   /etc/importador-firebird/        the instance's root (FIREBIRD): firebird.conf, databases.conf,
#                                    plugins.conf, messages and character sets
#   /var/lib/importador-firebird/    system/security3.fdb (its own users), data/ (a folder for
#                                    the registers, firebird:firebird 02770), server.out
#   /tmp/firebird                    the engine's lock folder, Debian's, shared with Debian's
#                                    service and with the operators' embedded engine
# With systemd it installs, enables and starts importador-firebird.service; without it (CI,
# chroots, containers) it starts the server as `firebird` in the background.
# Run as root:
#   fb-service-3052.sh                    set up (again: keeps the users) and start
#   fb-service-3052.sh --operator USER    also add USER to the group firebird
#   fb-service-3052.sh --stop             stop the server this script started without systemd
set -euo pipefail

PORT=3052
PASSWORD=quillfern
CONF_ROOT=/etc/importador-firebird
DATA_ROOT=/var/lib/importador-firebird
UNIT=importador-firebird.service
PIDFILE=/run/importador-firebird.pid
SYS_ROOT=/usr/lib/x86_64-linux-gnu/firebird/3.0

[ "$(id -u)" -eq 0 ] || { echo "fb-service-3052: run it as root (sudo)" >&2; exit 1; }

OPERATORS=()
STOP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --operator) OPERATORS+=("${2:?--operator needs a user name}"); shift 2 ;;
    --stop) STOP=1; shift ;;
    *) echo "fb-service-3052: unknown argument $1" >&2; exit 2 ;;
  esac
done

systemd_runs() { [ -d /run/systemd/system ] && command -v systemctl >/dev/null; }

stop_plain() {
  [ -f "$PIDFILE" ] || return 0
  local pid
  pid="$(cat "$PIDFILE")"
  if [ "$(ps -o comm= -p "$pid" 2>/dev/null)" = firebird ]; then
    kill -TERM "$pid"
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" || true
  fi
  rm -f "$PIDFILE"
}

if ((STOP)); then
  if systemd_runs && systemctl is-active --quiet "$UNIT"; then systemctl stop "$UNIT"; fi
  stop_plain
  echo "fb-service-3052: stopped"
  exit 0
fi

answers() {
  fbsvcmgr "127.0.0.1/$PORT:service_mgr" -user SYSDBA -password "$PASSWORD" -info_server_version \
    >/dev/null 2>&1
}

as_firebird() { setpriv --reuid=firebird --regid=firebird --init-groups -- "$@"; }

getent passwd firebird >/dev/null || {
  echo "fb-service-3052: no user firebird; install firebird3.0-server first (scripts/setup.sh)" >&2
  exit 1
}
[ -d "$SYS_ROOT" ] || SYS_ROOT="$(dirname "$(dpkg -L firebird3.0-server-core | grep '/plugins.conf$' | head -1)")"

for user in "${OPERATORS[@]}"; do
  # Debian's way; it takes effect at the user's next login.
  adduser --quiet "$user" firebird
  echo "fb-service-3052: $user is in the group firebird from the next login on"
done

# Debian's tmpfiles.d entry makes it at boot; without one since boot, make it as that entry does.
install -d -o firebird -g firebird -m 0770 /tmp/firebird

install -d -o root -g firebird -m 0750 "$CONF_ROOT" "$CONF_ROOT/intl"
install -d -o firebird -g firebird -m 0770 "$DATA_ROOT" "$DATA_ROOT/system"
install -d -o firebird -g firebird -m 02770 "$DATA_ROOT/data"
cat > "$CONF_ROOT/firebird.conf" <<CONF
# The second Firebird instance, for Importador patrimônio (scripts/fb-service-3052.sh).
RemoteServicePort = $PORT
RemoteBindAddress = 127.0.0.1
ServerMode = Super
SecurityDatabase = $DATA_ROOT/system/security3.fdb
CONF
printf 'security.db = %s/system/security3.fdb\n{\n  RemoteAccess = false\n}\n' "$DATA_ROOT" \
  > "$CONF_ROOT/databases.conf"
cp -f "$SYS_ROOT/plugins.conf" "$CONF_ROOT/plugins.conf"
ln -sf "$SYS_ROOT/firebird.msg" "$CONF_ROOT/firebird.msg"
# A symlinked libfbintl makes every character set "not installed": copy it.
cp -f "$SYS_ROOT/intl/libfbintl.so" "$CONF_ROOT/intl/libfbintl.so"
[ -f "$SYS_ROOT/intl/fbintl.conf" ] && cp -f "$SYS_ROOT/intl/fbintl.conf" "$CONF_ROOT/intl/fbintl.conf"
chmod -R go-w,g+rX "$CONF_ROOT"
chgrp -R firebird "$CONF_ROOT"

SECURITY="$DATA_ROOT/system/security3.fdb"
if [ ! -f "$SECURITY" ]; then
  # Made by the embedded engine as firebird, so the file is the server's own.
  echo "create database '$SECURITY';" | as_firebird env FIREBIRD="$CONF_ROOT" isql-fb -q
  as_firebird env FIREBIRD="$CONF_ROOT" isql-fb -q -user SYSDBA \
    -i /usr/share/firebird/3.0/security.sql "$SECURITY"
  printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$PASSWORD" \
    | as_firebird env FIREBIRD="$CONF_ROOT" isql-fb -q -user SYSDBA "$SECURITY"
  chmod 0660 "$SECURITY"
fi

if systemd_runs; then
  cat > "/etc/systemd/system/$UNIT" <<UNITFILE
[Unit]
Description=Firebird server for Importador patrimônio (127.0.0.1:$PORT)
After=network.target

[Service]
User=firebird
Group=firebird
Environment=FIREBIRD=$CONF_ROOT
# Files it makes (databases, backups) stay open to the group firebird: the operators.
UMask=0007
ExecStart=/usr/sbin/firebird
Restart=on-failure

[Install]
WantedBy=multi-user.target
UNITFILE
  systemctl daemon-reload
  systemctl enable --quiet "$UNIT"
  # A restart, so that a second run's configuration is read.
  systemctl restart "$UNIT"
else
  stop_plain
  if answers; then
    echo "fb-service-3052: another server already answers on 127.0.0.1:$PORT; stop it first" >&2
    exit 1
  fi
  (
    umask 0007
    cd "$DATA_ROOT"
    exec setsid setpriv --reuid=firebird --regid=firebird --init-groups -- \
      env FIREBIRD="$CONF_ROOT" /usr/sbin/firebird > "$DATA_ROOT/server.out" 2>&1 < /dev/null
  ) &
  echo $! > "$PIDFILE"
fi

for _ in $(seq 1 200); do
  if answers; then
    echo "fb-service-3052: Firebird answers on 127.0.0.1:$PORT as the user firebird (root $CONF_ROOT)"
    exit 0
  fi
  if ! systemd_runs && ! kill -0 "$(cat "$PIDFILE")" 2>/dev/null; then
    echo "fb-service-3052: the server ended; its output:" >&2
    cat "$DATA_ROOT/server.out" >&2
    exit 1
  fi
  sleep 0.1
done
echo "fb-service-3052: no answer on 127.0.0.1:$PORT after 20 s" >&2
systemd_runs && systemctl --no-pager status "$UNIT" >&2
exit 1
