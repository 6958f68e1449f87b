#!/usr/bin/env bash
# Starts Kestrane from a build folder.
#  - With an accelerometer (IIO) and a display: Kestrane with the default sensor library.
#  - With a display but no accelerometer: Kestrane with the simulator library, and the sensor pad
#    beside it to tilt the "computer" by hand.
#  - With no display: Kestrane on a virtual display with the simulator moving it; screenshots go to
#    a folder named at the end.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)

has_accelerometer() {
  local d
  for d in /sys/bus/iio/devices/iio:device*; do
    [ -e "$d/in_accel_x_raw" ] && [ -e "$d/in_accel_y_raw" ] && return 0
  done
  return 1
}

display_works() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

# The simulator must be called Sensor.dll beside the program, so the demo gets its own folder.
demo_folder() {
  local dir="$build/demo"
  mkdir -p "$dir"
  cp -f "$build/kestrane" "$dir/kestrane"
  cp -f "$build/simulator/Sensor.dll" "$dir/Sensor.dll"
  echo "$dir"
}

# Writes the simulator's readings (12 bytes: magic, version, first | second << 16).
set_readings() {
  python3 - "$1" "$2" <<'PY'
import os, struct, sys
d = os.environ.get("XDG_RUNTIME_DIR", "")
path = f"{d}/kestrane-sensor" if d.startswith("/") else f"/tmp/kestrane-sensor-{os.geteuid()}"
data = struct.pack("=III", 0x4B534E31, 1, int(sys.argv[1]) | (int(sys.argv[2]) << 16))
fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o600)
os.pwrite(fd, data, 0)
os.close(fd)
PY
}

if display_works; then
  if has_accelerometer; then
    exec "$build/kestrane"
  fi
  echo "No accelerometer found: Kestrane runs with the simulator; tilt it with the sensor pad."
  dir=$(demo_folder)
  set_readings 32768 32768
  "$build/sensorpad" &
  pad=$!
  "$dir/kestrane" || true
  kill "$pad" 2>/dev/null || true
  exit 0
fi

shots="$build/screenshots"
echo "No display: running Kestrane on a virtual display with the simulator tilting it."
rm -rf "$shots"
mkdir -p "$shots"
dir=$(demo_folder)
export DISPLAY=:$((90 + RANDOM % 100))
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
sleep 0.5
set_readings 32768 32768
"$dir/kestrane" &
app=$!
for _ in $(seq 50); do xdotool search --onlyvisible --name '^Kestrane$' >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xdotool search --onlyvisible --name '^Kestrane$' | head -1)
xdotool windowactivate --sync "$window" type --delay 30 "Kestrane: the window follows the sensor."
# A slow tilt one way and back, then the other axis: a change of 1 g moves the window 63 pixels.
i=0
for step in "32768 32768" "33768 32768" "34768 33768" "35768 35768" "33768 36768" "32768 34768" "32768 32768"; do
  set_readings $step
  sleep 0.4
  import -window root "$shots/$(printf '%02d' $i).png"
  i=$((i + 1))
done
# Quit through the menu, as a person would.
xdotool windowactivate --sync "$window" key alt+f
sleep 0.3
xdotool key q
sleep 0.5
kill "$app" 2>/dev/null || true
wait "$app" || true
echo "Screenshots: $shots"
