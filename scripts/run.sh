#!/usr/bin/env bash
# Installs what is missing, builds, starts the local platform with its demo shop and the client
# against it. Without a display the client runs under Xvfb, logs in with the demo account and
# screenshots of what it shows are saved into ./screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j "$(nproc)"

PORT=${TARVIK_PORT:-47810}
DEMO_DIR=${TARVIK_DEMO_DIR:-$ROOT/$BUILD_DIR/demo}
SHOTS=${TARVIK_SCREENSHOTS:-$ROOT/screenshots}
DEMO_SECONDS=${TARVIK_DEMO_SECONDS:-90}
DEMO_ACCOUNT=${TARVIK_DEMO_ACCOUNT:-13800000001}
DEMO_PASSWORD=${TARVIK_DEMO_PASSWORD:-velm123}
mkdir -p "$DEMO_DIR/home" "$DEMO_DIR/runtime"
chmod 700 "$DEMO_DIR/runtime"
export XDG_RUNTIME_DIR="$DEMO_DIR/runtime"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

"$BUILD_DIR/platform/velm-platform" --port "$PORT" --db "$DEMO_DIR/platform.sqlite" --seed --simulate \
  > "$DEMO_DIR/platform.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  grep -q "^listening on" "$DEMO_DIR/platform.log" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q "^listening on" "$DEMO_DIR/platform.log"; then
  echo "velm-platform did not start:"; cat "$DEMO_DIR/platform.log"; exit 1
fi
echo "platform: $(head -n 1 "$DEMO_DIR/platform.log") (log: $DEMO_DIR/platform.log)"
echo "demo account: $DEMO_ACCOUNT  password: $DEMO_PASSWORD"

export TARVIK_API_HOST=127.0.0.1:$PORT TARVIK_IMAGE_HOST=127.0.0.1:$PORT TARVIK_WEB_HOST=127.0.0.1:$PORT

# The client finds its sounds in "audio" beside it and keeps its data in the demo folder.
cd "$BUILD_DIR"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  XDG_DATA_HOME="$DEMO_DIR/home" ./tarvik
  exit 0
fi

mkdir -p "$SHOTS"
export DISPLAY=:${TARVIK_XVFB_DISPLAY:-99}
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp > "$DEMO_DIR/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

XDG_DATA_HOME="$DEMO_DIR/home" ./tarvik > "$DEMO_DIR/client.log" 2>&1 &
client=$!
pids+=($client)
shot() { import -window root "$SHOTS/$1.png" && echo "screenshot: $SHOTS/$1.png"; }

sleep 3
shot 01-login
# The login window is centred: type the demo account into its account box and password box.
read -r W H < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
LX=$(( (W - 430) / 2 )); LY=$(( (H - 330) / 2 ))
xdotool mousemove $((LX + 217)) $((LY + 230)) click 1 key ctrl+a type --delay 30 "$DEMO_ACCOUNT"
xdotool mousemove $((LX + 217)) $((LY + 260)) click 1 key ctrl+a type --delay 30 "$DEMO_PASSWORD"
shot 02-login-filled
xdotool key Return
sleep 4
shot 03-main
elapsed=0; n=4
while [ "$elapsed" -lt "$DEMO_SECONDS" ] && kill -0 "$client" 2>/dev/null; do
  sleep 30; elapsed=$((elapsed + 30))
  shot "$(printf '%02d' $n)-main-${elapsed}s"; n=$((n + 1))
done
echo "client log: $DEMO_DIR/client.log; screenshots in $SHOTS"
