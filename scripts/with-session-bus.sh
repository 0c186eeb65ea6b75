#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus of its own, which ends with it.
# The bus starts no services on demand (they would run with the real HOME);
# peers a test needs it starts itself. Accessibility and settings daemons are
# kept out.
#
#   scripts/with-session-bus.sh COMMAND [ARGS...]
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/private-bus-config.sh"
write_private_bus_config "$work"
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
dbus-run-session --config-file="$work/bus.conf" -- "$@"
