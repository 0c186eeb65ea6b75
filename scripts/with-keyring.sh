#!/usr/bin/env bash
# Runs a command on a private session bus with a private, unlocked Secret
# Service (gnome-keyring, secrets component only), then stops both.
#
#   scripts/with-keyring.sh COMMAND [ARGS...]
#
# The keyring lives in a temporary folder that is removed afterwards; the
# user's own keyring is never touched, and the command keeps its own
# environment (HOME, XDG folders) apart from DBUS_SESSION_BUS_ADDRESS.
# Exit status: the command's.
set -euo pipefail
keyring_home=$(mktemp -d)
trap 'rm -rf "$keyring_home"' EXIT
export TALVEK_KEYRING_HOME="$keyring_home"
dbus-run-session -- bash -c '
  printf %s talvek-test | HOME="$TALVEK_KEYRING_HOME" XDG_DATA_HOME="$TALVEK_KEYRING_HOME" \
    gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
  daemon=$!
  trap "kill $daemon 2>/dev/null; wait $daemon 2>/dev/null || true" EXIT
  if ! gdbus wait --session --timeout 10 org.freedesktop.secrets; then
    echo "with-keyring: the Secret Service did not start" >&2
    exit 1
  fi
  unset TALVEK_KEYRING_HOME
  "$@"' with-keyring "$@"
