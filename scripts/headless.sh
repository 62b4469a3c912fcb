# Sourced by ./test and scripts/soak: a headless X server with a window
# manager, and a PulseAudio null sink, each started only when none is
# running; what was started is stopped when the script exits. The tests'
# catalogues live in a folder of their own, never in the home folder.
STARTED=""
cleanup() {
  for pid in $STARTED; do kill "$pid" 2>/dev/null || true; done
  [ -n "$PULSE_DIR" ] && rm -rf "$PULSE_DIR"
  [ -n "$DATA_DIR" ] && rm -rf "$DATA_DIR"
}
trap cleanup EXIT INT TERM
DATA_DIR=$(mktemp -d)
export XDG_DATA_HOME="$DATA_DIR"

if [ -z "$DISPLAY" ] || ! xdpyinfo >/dev/null 2>&1; then
  # Xvfb names the display it took, so two of these side by side never
  # take the same one.
  DISPLAY_FILE=$(mktemp)
  exec 8>"$DISPLAY_FILE"
  Xvfb -displayfd 8 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
  STARTED="$STARTED $!"
  exec 8>&-
  i=0
  until [ -s "$DISPLAY_FILE" ]; do i=$((i + 1)); [ $i -gt 100 ] && { echo "Xvfb did not start"; exit 1; }; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$DISPLAY_FILE")"
  rm -f "$DISPLAY_FILE"
  i=0
  until xdpyinfo >/dev/null 2>&1; do i=$((i + 1)); [ $i -gt 100 ] && { echo "Xvfb did not start"; exit 1; }; sleep 0.1; done
  openbox >/dev/null 2>&1 &
  STARTED="$STARTED $!"
fi

if ! pactl info >/dev/null 2>&1; then
  PULSE_DIR=$(mktemp -d)
  chmod 700 "$PULSE_DIR"
  export XDG_RUNTIME_DIR="$PULSE_DIR"
  # No display for the server: it would autolaunch a session bus on it.
  env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load="module-native-protocol-unix auth-anonymous=1" \
    --load="module-null-sink sink_name=test_null" --load=module-always-sink >/dev/null 2>&1 &
  STARTED="$STARTED $!"
  i=0
  until pactl info >/dev/null 2>&1; do i=$((i + 1)); [ $i -gt 100 ] && { echo "PulseAudio did not start"; exit 1; }; sleep 0.1; done
  pactl set-default-sink test_null
fi
