#!/usr/bin/env bash
# Installs what is missing, builds, starts the local platform with its demo shop and simulated
# buyers, and the client against it.
#
# With a display, log in with a demo account of the README and use the client.
#
# Without one, the client runs under Xvfb and is driven the way a person would drive it, through
# mouse clicks and typing (xdotool) on its real windows: it logs in through the login window, waits
# for a simulated order, double-clicks it in "已支付", opens the confirmation table, the income and
# the profile window with their buttons, and saves a screenshot of each window into a folder
# (./screenshots unless TARVIK_SCREENSHOTS names another). Then every API endpoint fails (the
# platform's fault injection) until the main window's head shows the band of a lost connection,
# which is the seventh screenshot, and the fault is cleared again. Then it closes the main window,
# which ends the client, and stops the platform. A step that fails (a window that never shows, a
# screenshot with nothing in it) ends the run with a message and a non-zero status.
#
# Environment: TARVIK_PORT (default 47810 with a display, a free port without), TARVIK_SIM_PACE
# (seconds between simulated orders; 30 with a display, 8 without), TARVIK_SCREENSHOTS,
# TARVIK_DEMO_DIR, TARVIK_DEMO_ACCOUNT / TARVIK_DEMO_PASSWORD, TARVIK_XVFB_DISPLAY, BUILD_DIR,
# TARVIK_SKIP_BUILD=1 (use what BUILD_DIR holds), TARVIK_OFFLINE_AFTER_SECONDS (how long the polls
# must fail before the client shows the connection as lost: 40 with a display, 8 without).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

BUILD_DIR=${BUILD_DIR:-build}
if [ "${TARVIK_SKIP_BUILD:-0}" != 1 ]; then
  scripts/setup.sh run
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$BUILD_DIR" -j "$(nproc)"
fi
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)

HEADLESS=1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then HEADLESS=0; fi

DEMO_DIR=${TARVIK_DEMO_DIR:-$BUILD_DIR/demo}
SHOTS=${TARVIK_SCREENSHOTS:-$ROOT/screenshots}
DEMO_ACCOUNT=${TARVIK_DEMO_ACCOUNT:-13800000001}
DEMO_PASSWORD=${TARVIK_DEMO_PASSWORD:-velm123}
mkdir -p "$DEMO_DIR"

platform_args=(--db "$DEMO_DIR/platform.sqlite" --seed --simulate)
if [ "$HEADLESS" = 1 ]; then
  # A walk through the windows should show the demo shop as it is seeded, remember nothing from an
  # earlier walk, and not wait half a minute for each buyer.
  PORT=${TARVIK_PORT:-0}
  platform_args+=(--reset --sim-pace "${TARVIK_SIM_PACE:-8}")
  rm -rf "$DEMO_DIR/home" "$DEMO_DIR/tmp"
else
  PORT=${TARVIK_PORT:-47810}
  if [ -n "${TARVIK_SIM_PACE:-}" ]; then platform_args+=(--sim-pace "$TARVIK_SIM_PACE"); fi
fi
mkdir -p "$DEMO_DIR/home" "$DEMO_DIR/runtime" "$DEMO_DIR/tmp"
chmod 700 "$DEMO_DIR/runtime"
export XDG_RUNTIME_DIR="$DEMO_DIR/runtime"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

PLATFORM_LOG=$DEMO_DIR/platform.log
CLIENT_LOG=$DEMO_DIR/client.log
"$BUILD_DIR/platform/velm-platform" --port "$PORT" "${platform_args[@]}" > "$PLATFORM_LOG" 2>&1 &
platform=$!
pids+=("$platform")
for _ in $(seq 1 300); do
  grep -q "^listening on" "$PLATFORM_LOG" 2>/dev/null && break
  kill -0 "$platform" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "^listening on" "$PLATFORM_LOG"; then
  if kill -0 "$platform" 2>/dev/null; then
    echo "velm-platform did not start listening within 30 s:"
  else
    status=0
    wait "$platform" || status=$?
    echo "velm-platform ended with status $status before it listened:"
  fi
  cat "$PLATFORM_LOG"
  exit 1
fi
PORT=$(sed -n 's|^listening on http://[^:]*:\([0-9]*\).*|\1|p' "$PLATFORM_LOG" | head -n 1)
echo "platform: $(head -n 1 "$PLATFORM_LOG") (log: $PLATFORM_LOG)"
echo "demo account: $DEMO_ACCOUNT  password: $DEMO_PASSWORD"

export TARVIK_API_HOST=127.0.0.1:$PORT TARVIK_IMAGE_HOST=127.0.0.1:$PORT TARVIK_WEB_HOST=127.0.0.1:$PORT

# The client finds its sounds in "audio" beside it and keeps its data in the demo folder.
cd "$BUILD_DIR"
if [ "$HEADLESS" = 0 ]; then
  XDG_DATA_HOME="$DEMO_DIR/home" ./tarvik
  exit 0
fi

# ---- without a display ------------------------------------------------------------------------

fail() {
  echo "run.sh: FAILED: $*" >&2
  echo "run.sh: client log $CLIENT_LOG, platform log $PLATFORM_LOG, screenshots so far in $SHOTS" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$SHOTS/failed-screen.png" 2>/dev/null &&
    echo "run.sh: the whole screen at that moment: $SHOTS/failed-screen.png" >&2
  exit 1
}

mkdir -p "$SHOTS"
rm -f "$SHOTS"/0[1-7]-*.png "$SHOTS/failed-screen.png"

if [ -n "${TARVIK_XVFB_DISPLAY:-}" ]; then
  Xvfb ":$TARVIK_XVFB_DISPLAY" -screen 0 1280x800x24 -nolisten tcp -noreset > "$DEMO_DIR/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=:$TARVIK_XVFB_DISPLAY
else
  # Xvfb picks a display nobody uses and writes its number to the file.
  rm -f "$DEMO_DIR/xvfb.display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3> "$DEMO_DIR/xvfb.display" 2> "$DEMO_DIR/xvfb.log" &
  pids+=($!)
  for _ in $(seq 1 50); do [ -s "$DEMO_DIR/xvfb.display" ] && break; sleep 0.1; done
  [ -s "$DEMO_DIR/xvfb.display" ] || { cat "$DEMO_DIR/xvfb.log"; echo "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$DEMO_DIR/xvfb.display")
fi
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { cat "$DEMO_DIR/xvfb.log"; echo "Xvfb did not start"; exit 1; }
echo "Xvfb on $DISPLAY"

# TMPDIR: the single-instance probe of this client must not meet another one of this machine.
# The lost connection shows after a few seconds of failing polls instead of 40.
OFFLINE_AFTER=${TARVIK_OFFLINE_AFTER_SECONDS:-8}
XDG_DATA_HOME="$DEMO_DIR/home" TMPDIR="$DEMO_DIR/tmp" TARVIK_OFFLINE_AFTER_SECONDS=$OFFLINE_AFTER \
  ./tarvik > "$CLIENT_LOG" 2>&1 &
client=$!
pids+=("$client")

# Each window is frameless with a 10-pixel shadow around what it shows (the shadow has nothing to
# blend with without a compositor): the visible frame is the X window less that margin.
SHADOW=10

# wait_window REGEX SECONDS: the id of a shown window whose title matches.
wait_window() {
  local deadline=$((SECONDS + $2)) id
  while [ "$SECONDS" -lt "$deadline" ]; do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$client" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# wait_gone ID SECONDS: until the window is no longer shown.
wait_gone() {
  local deadline=$((SECONDS + $2))
  while [ "$SECONDS" -lt "$deadline" ]; do
    xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable" || return 0
    sleep 0.2
  done
  return 1
}

# frame ID: sets VX VY VW VH, the visible frame of the window on the screen.
frame() {
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$1")"
  VX=$((X + SHADOW)); VY=$((Y + SHADOW)); VW=$((WIDTH - 2 * SHADOW)); VH=$((HEIGHT - 2 * SHADOW))
}

# pixels X Y W H: a fingerprint of what that part of the screen shows.
pixels() {
  import -window root -crop "${3}x${4}+${1}+${2}" -depth 8 rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}

# settle ID SECONDS: until the window shows the same thing twice in a row (pictures and lists
# loaded, loading indicator gone).
settle() {
  local deadline=$((SECONDS + $2)) last="" now
  frame "$1"
  while [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.7
    now=$(pixels "$VX" "$VY" "$VW" "$VH")
    [ "$now" = "$last" ] && return 0
    last=$now
  done
  return 1
}

click() { xdotool mousemove --sync "$1" "$2" click 1; }

# shot ID NAME: raises the window and saves its visible frame as NAME.png.
shot() {
  xdotool windowraise "$1"
  sleep 0.4
  save "$@"
}

# save ID NAME [taken]: the same for a window already in front; with "taken", only checks the
# screenshot already saved.
save() {
  local file="$SHOTS/$2.png" colours
  frame "$1"
  if [ "${3:-}" != taken ]; then
    import -window root -crop "${VW}x${VH}+${VX}+${VY}" +repage "$file" ||
      fail "could not save the screenshot $file"
  fi
  # An unpainted window is one flat colour; a painted one has text, pictures and shades.
  colours=$(convert "$file" -format %k info:)
  [ "$colours" -ge 32 ] || fail "$file shows next to nothing ($colours colours): the window was not painted"
  echo "screenshot: $file"
}

# close_window ID: its close button, the rightmost of the title bar.
# The confirmation table shows itself again when a buyer asks while it fades out: a person then
# clicks once more. Three clicks that close nothing are a fault.
close_window() {
  local try
  for try in 1 2 3; do
    frame "$1"
    xdotool windowraise "$1"
    click $((VX + VW - 15)) $((VY + 15))
    wait_gone "$1" 5 && return 0
    echo "window $1 still shown after a click on its close button (try $try)"
  done
  fail "window $1 did not close when its close button was clicked"
}

# raise_main: a person clicks the main window to bring it forward; there is no window manager to do
# it for the click, so the window is raised first.
raise_main() {
  xdotool windowraise "$main"
  sleep 0.3
  frame "$main"
}

# -- the login window
login=$(wait_window '^用户登录-Velm$' 20) || fail "the login window did not appear within 20 s"
settle "$login" 5 || true
shot "$login" 01-login
frame "$login"
# Below the 180-pixel top band: the account box (195 x 30) and the password box under it, right of
# the 80-pixel avatar.
click $((VX + 217)) $((VY + 230))
xdotool key ctrl+a type --delay 30 "$DEMO_ACCOUNT"
click $((VX + 217)) $((VY + 260))
xdotool key ctrl+a type --delay 30 "$DEMO_PASSWORD"
# The orders the platform makes from here on are the ones that count as new for this session.
login_line=$(wc -l < "$PLATFORM_LOG")
xdotool key Return
main=$(wait_window '^Tarvik$' 15) || fail "the main window did not appear within 15 s of pressing Enter in the login window"
wait_gone "$login" 5 || fail "the login window stayed open after the login"
echo "logged in as $DEMO_ACCOUNT"

# -- the main window: unfold "已支付", wait for a simulated order to join it
frame "$main"
# The order pane starts under the 170-pixel head and the tab bar; its first group is "已支付",
# a 28-pixel header over 53-pixel rows.
TAB_BAR=31
PANE_X=$VX; PANE_Y=$((VY + 170 + TAB_BAR))
sleep 2
click $((PANE_X + 40)) $((PANE_Y + 14))
xdotool mousemove $((VX + VW / 2)) $((VY + 60)) # off the rows: no hover highlight
sleep 1
# The simulated buyers order every few seconds; the client asks for new orders every 20 s. The
# script waits for the client's own log to name an order the platform made after the login: then
# that order, or one newer still, is the top row of "已支付". Pixels alone cannot tell: a buyer
# asking for confirmation changes the pane too, and a frozen client shows nothing new at all.
echo "waiting for a simulated order (the platform makes one every ${TARVIK_SIM_PACE:-8} to $((2 * ${TARVIK_SIM_PACE:-8})) s, the client asks every 20 s)"
# made_after_login: the numbers of the orders the platform made since the login, one a line.
made_after_login() {
  tail -n +"$((login_line + 1))" "$PLATFORM_LOG" | sed -n 's/^\[[0-9:]*\] new order \([0-9]*\):.*/\1/p'
  [ -z "$admin_order" ] || echo "$admin_order"
}
admin_order=""
deadline=$((SECONDS + 40))
until [ -n "$(made_after_login)" ]; do
  if [ "$SECONDS" -ge "$deadline" ]; then
    # A slow pace (TARVIK_SIM_PACE): a buyer orders through the admin API instead.
    echo "no simulated order within 40 s: one is made through the admin API"
    answer=$(curl -fsS -X POST "http://127.0.0.1:$PORT/admin/orders" -H 'Content-Type: application/json' \
      -d "{\"status\": 1, \"ptime\": $(date +%s), \"taker\": \"陈先生\", \"tel\": \"13912345678\", \"message\": \"少放辣\"}") ||
      fail "the admin API refused to make an order"
    admin_order=$(echo "$answer" | sed -n 's/.*"id": *\([0-9]*\).*/\1/p')
    [ -n "$admin_order" ] || fail "the admin API answered without an order number: $answer"
    break
  fi
  kill -0 "$client" 2>/dev/null || fail "the client ended while waiting for a new order"
  sleep 0.5
done
first_new=$(made_after_login | head -n 1)
echo "the platform made order $first_new after the login; waiting for the client to take it"
# One new-order poll (20 s) and then some for a busy machine.
deadline=$((SECONDS + 45))
until grep -q "new order $first_new " "$CLIENT_LOG"; do
  [ "$SECONDS" -lt "$deadline" ] || fail "order $first_new, made after the login, never reached the client (its log: $CLIENT_LOG)"
  kill -0 "$client" 2>/dev/null || fail "the client ended while waiting for a new order"
  sleep 0.5
done
echo "the client has order $first_new"
# The new row blinks its icon every half second: of a few screenshots, the one kept shows the icon.
xdotool windowraise "$main"
sleep 0.4
frame "$main"
for _ in $(seq 1 10); do
  import -window root -crop "${VW}x${VH}+${VX}+${VY}" +repage "$SHOTS/02-main.png"
  shade=$(convert "$SHOTS/02-main.png" -crop "40x40+8+$((PANE_Y - VY + 28 + 6))" -colorspace Gray \
    -format "%[fx:mean]" info: 2>/dev/null || echo 1)
  awk -v m="$shade" 'BEGIN { exit !(m < 0.95) }' && break
  sleep 0.1
done
save "$main" 02-main taken

# -- a detail window: double-click the new order, the top row of "已支付"
raise_main
xdotool mousemove --sync $((PANE_X + 120)) $((PANE_Y + 28 + 26)) click --repeat 2 --delay 80 1
detail=$(wait_window '订单详情$' 10) || fail "double-clicking the top row of \"已支付\" opened no detail window"
title=$(xdotool getwindowname "$detail")
order_id=${title%% *}
made_after_login | grep -qx "$order_id" ||
  fail "the top row of \"已支付\" is order $order_id, not one made after the login"
settle "$detail" 15 || echo "(the detail window of $order_id kept changing)"
shot "$detail" 03-detail
close_window "$detail"
echo "detail window of the new order $order_id looked at and closed"

# -- the confirmation table: it opens by itself when a buyer asks for confirmation; close it and
# open it again with its button under the head of the main window.
table=$(wait_window '^待确认订单' 25) || {
  echo "no buyer asked for a confirmation yet: order $order_id asks through the admin API"
  curl -fsS -X POST "http://127.0.0.1:$PORT/admin/orders/$order_id" -H 'Content-Type: application/json' -d '{"confirm":true}' >/dev/null ||
    fail "the admin API refused to have order $order_id ask for confirmation"
  table=$(wait_window '^待确认订单' 15) || fail "the confirmation table did not open when a buyer asked for confirmation"
}
settle "$table" 5 || true
close_window "$table"
raise_main
click $((VX + 220 + 11)) $((VY + 117 + 11))
table=$(wait_window '^待确认订单' 5) || fail "the confirmation-table button did not open the table"
settle "$table" 5 || true
shot "$table" 04-confirmation-table
close_window "$table"

# -- the income window: the rightmost button under the head
raise_main
click $((VX + 250 + 11)) $((VY + 117 + 11))
income=$(wait_window '^收入流水$' 5) || fail "the income button did not open the income window"
settle "$income" 15 || echo "(the income window kept changing)"
# Early in the day "今 日" may well be empty: the second of the four period tabs under the
# 180-pixel head shows the week.
frame "$income"
click $((VX + VW * 3 / 8)) $((VY + 180 + 14))
sleep 0.5
settle "$income" 15 || echo "(the income window kept changing)"
shot "$income" 05-income
close_window "$income"

# -- the profile window: the avatar in the head
raise_main
click $((VX + 8 + 32)) $((VY + 40 + 32))
profile=$(wait_window '^我的资料$' 5) || fail "clicking the avatar did not open the profile window"
settle "$profile" 15 || echo "(the profile window kept changing)"
shot "$profile" 06-profile
close_window "$profile"

# -- a lost connection: every API endpoint answers HTTP 500 until the head shows the band
# The client's diagnostic log says when it counts the connection as lost and when it is back; the
# band lies across the head below the nickname, where nothing else changes.
DIAG_LOG=$DEMO_DIR/home/Velm/Tarvik/logs/tarvik.log
raise_main
xdotool mousemove $((VX + VW / 2)) $((VY + 300)) # no tooltip over the head
sleep 0.5
band_area() { pixels $((VX + 80)) $((VY + 82)) $((VW - 90)) 16; }
count_in_log() { local n; n=$(grep -c "$1" "$DIAG_LOG" 2>/dev/null) || true; echo "${n:-0}"; }
head_before=$(band_area)
lost_before=$(count_in_log "connection lost")
restored_before=$(count_in_log "connection restored")
curl -fsS -X POST "http://127.0.0.1:$PORT/admin/faults" -H 'Content-Type: application/json' -d '{"endpoint": "*", "kind": "http500"}' >/dev/null ||
  fail "the admin API refused to set a fault"
echo "polls failing (HTTP 500 on every endpoint); the band is due after $OFFLINE_AFTER s"
deadline=$((SECONDS + OFFLINE_AFTER + 40))
until [ "$(count_in_log "connection lost")" -gt "$lost_before" ]; do
  [ "$SECONDS" -lt "$deadline" ] ||
    fail "the client did not count the connection as lost within $((OFFLINE_AFTER + 40)) s of failing polls (log: $DIAG_LOG)"
  kill -0 "$client" 2>/dev/null || fail "the client ended while its polls failed"
  sleep 0.5
done
sleep 2 # the band counts the seconds: let it count a little
raise_main
[ "$(band_area)" != "$head_before" ] || fail "the client logged a lost connection but its head shows no band"
shot "$main" 07-offline
curl -fsS -X DELETE "http://127.0.0.1:$PORT/admin/faults" >/dev/null || fail "the admin API refused to clear the faults"
deadline=$((SECONDS + 40))
until [ "$(count_in_log "connection restored")" -gt "$restored_before" ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the connection did not come back within 40 s of clearing the fault"
  sleep 0.5
done
raise_main
for _ in $(seq 1 10); do [ "$(band_area)" = "$head_before" ] && break; sleep 0.3; done
[ "$(band_area)" = "$head_before" ] || fail "the connection is back but the band stays in the head"
echo "lost connection shown and gone again (log: $DIAG_LOG)"

# -- closing the main window ends the client
raise_main
click $((VX + VW - 15)) $((VY + 15))
for _ in $(seq 1 50); do kill -0 "$client" 2>/dev/null || break; sleep 0.2; done
kill -0 "$client" 2>/dev/null && fail "the client was still running 10 s after its main window was closed"
status=0
wait "$client" || status=$?
[ "$status" = 0 ] || fail "the client ended with status $status"
kill -TERM "$platform"
status=0
wait "$platform" || status=$?
[ "$status" = 0 ] || fail "velm-platform ended with status $status on SIGTERM"
echo "client and platform stopped; client log: $CLIENT_LOG; screenshots in $SHOTS:"
ls "$SHOTS"
