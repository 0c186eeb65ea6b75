# Sourced by the scripts that start a private session bus.
#
#   write_private_bus_config DIR   -> writes DIR/bus.conf, listening in DIR/bus
#
# The bus starts no services on demand: those would run with the bus's
# environment (the real HOME) and whatever the machine has installed. Peers a
# test needs it starts itself.
write_private_bus_config() {
  local dir=$1
  mkdir -m 700 "$dir/bus"
  cat >"$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
}
