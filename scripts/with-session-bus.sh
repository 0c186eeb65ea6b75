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
mkdir -m 700 "$work/bus"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
dbus-run-session --config-file="$work/bus.conf" -- "$@"
