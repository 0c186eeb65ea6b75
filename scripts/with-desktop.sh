#!/usr/bin/env bash
# Runs a command on a private desktop: an X server of its own (Xvfb,
# 1280x1024x24, on the first free display, cookie-protected, no TCP), the
# openbox window manager and a private D-Bus session bus. All of it stops when
# the command ends.
#
#   scripts/with-desktop.sh COMMAND [ARGS...]
#
# The command gets DISPLAY and XAUTHORITY for that server and is kept off any
# Wayland session; apart from that (and the usual NO_AT_BRIDGE and
# GSETTINGS_BACKEND) it keeps its own environment. The window manager gets a
# private HOME and XDG folders, so no user configuration is read; the bus
# starts no services on demand. Works without a display or a session bus of
# the caller's (CI, as root).
# Exit status: the command's.
set -euo pipefail

work=$(mktemp -d)
xvfb=0 openbox=0
cleanup() {
  local pid
  for pid in "$openbox" "$xvfb"; do
    if ((pid > 0)); then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "with-desktop: $1" >&2
  [[ -f "$work/$2.log" ]] && sed 's/^/  | /' "$work/$2.log" >&2
  exit 1
}

# The server reads every cookie in its -auth file whatever display it names;
# clients need an entry for the display the server picked, added below.
export XAUTHORITY="$work/Xauthority"
: >"$XAUTHORITY"
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
xauth -q -f "$XAUTHORITY" add :0 . "$cookie"

# -displayfd: the server picks a free display and writes its number once it
# takes connections.
: >"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset -auth "$XAUTHORITY" \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
number=
for ((i = 0; i < 200; i++)); do
  if read -r number <"$work/display" 2>/dev/null; then break; fi
  kill -0 "$xvfb" 2>/dev/null || break
  number=
  sleep 0.05
done
[[ "$number" =~ ^[0-9]+$ ]] || fail "Xvfb did not start" xvfb
export DISPLAY=":$number"
xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory

waitUntil() {  # waitUntil SECONDS COMMAND...: retries COMMAND until it succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}
waitUntil 10 xdotool getdisplaygeometry || fail "the X server on $DISPLAY does not answer" xvfb

mkdir -m 700 "$work/wm"
env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/wm" XDG_CONFIG_HOME="$work/wm/config" \
  XDG_CACHE_HOME="$work/wm/cache" XDG_DATA_HOME="$work/wm/data" XDG_STATE_HOME="$work/wm/state" \
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox=$!
# openbox publishes its desktops once it manages the screen.
waitUntil 10 xdotool get_num_desktops || fail "openbox did not start" openbox

# A private session bus (no on-demand services).
source "$(dirname "${BASH_SOURCE[0]}")/private-bus-config.sh"
write_private_bus_config "$work"

# The command runs in the background so that a stop request reaches it at
# once (dbus-run-session passes none on); the session and its bus end with it.
dbus-run-session --config-file="$work/bus.conf" -- bash -c 'echo $$ >"$0"; exec "$@"' "$work/command.pid" "$@" <&0 &
session=$!
forward() {
  local pid
  pid=$(cat "$work/command.pid" 2>/dev/null) || true
  if [[ "$pid" =~ ^[0-9]+$ ]] && ((pid > 0)); then kill -"$1" "$pid" 2>/dev/null || true; fi
}
for signal in HUP INT TERM; do
  trap "forward $signal" "$signal"
done
status=0
wait "$session" || status=$?
while kill -0 "$session" 2>/dev/null; do  # the wait was cut short by a stop request
  status=0
  wait "$session" || status=$?
done
exit "$status"
