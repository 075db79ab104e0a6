#!/usr/bin/env bash
# Where the private Firebird server of this user lives, and which lock folder the engines of
# its world share. Sourced by the server, demo and test scripts; run with a command (as CTest
# runs every test through it), it runs that command with the same settings.
#   FB_ROOT        root folder of the private server; default /tmp/importador-fb for root,
#                  /tmp/importador-fb-UID for anyone else (never a folder of another user)
#   FIREBIRD_LOCK  the engine's lock folder. Left unset (Debian's /tmp/firebird, shared with
#                  Debian's own service) when the caller may use that folder; otherwise
#                  $FB_ROOT/lock, for the private server and every process that opens files of
#                  its world with the embedded engine, so that they still see each other's locks.
# Debian makes /tmp/firebird firebird:firebird 0770: an ordinary user outside the group cannot
# open any database with the embedded engine there, and would leave a folder of its own there
# if it made one, which Debian's service could not use afterwards.

fb_env_lock_usable() {
  [ "$(id -u)" -eq 0 ] && return 0
  [ -d /tmp/firebird ] && [ -w /tmp/firebird ] && [ -x /tmp/firebird ]
}

fb_env() {
  if [ -z "${FB_ROOT:-}" ]; then
    if [ "$(id -u)" -eq 0 ]; then FB_ROOT=/tmp/importador-fb; else FB_ROOT="/tmp/importador-fb-$(id -u)"; fi
  fi
  export FB_ROOT
  if [ -z "${FIREBIRD_LOCK:-}" ] && ! fb_env_lock_usable; then
    export FIREBIRD_LOCK="$FB_ROOT/lock"
  fi
}

fb_env

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ $# -gt 0 ]; then
  exec "$@"
fi
