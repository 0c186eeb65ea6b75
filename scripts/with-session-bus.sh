#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus of its own, which ends with it.
# Accessibility and settings daemons are kept out.
#
#   scripts/with-session-bus.sh COMMAND [ARGS...]
set -euo pipefail
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
exec dbus-run-session -- "$@"
