#!/usr/bin/env bash
# The program as a user meets it: qelwin under Xvfb against the simulated
# exchange on loopback. It connects at start, the log is switched on from
# the File menu, a command typed at the keyboard reaches the exchange and its
# answer reaches the screen and the log, trace output is decoded, and the
# program quits through File|Exit answering its two questions.
#   qelwin_e2e.sh QELWIN QEL SAMPLES_BUILD_DIR SAMPLES_SOURCE_DIR ARTIFACTS_DIR
set -uo pipefail
QELWIN=$1 QEL=$2 SAMPLES=$3 SOURCES=$4 ARTIFACTS=$5
source "$(dirname "$0")/xsession.sh"
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./qel installs it)"
done
[ -n "${QEL_E2E_KEEP:-}" ] && trap - EXIT

start_xvfb 90 120

"$QEL" exchange --listen 127.0.0.1:0 --log "$dir/received.log" --samples "$SOURCES" >"$dir/exchange.out" 2>&1 &
pids+=($!)
wait_for 50 grep -q "^listening on" "$dir/exchange.out" || fail "the exchange did not start: $(cat "$dir/exchange.out")"
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/exchange.out")

"$QEL" settings "$SAMPLES/demo.mse" --set "HostName=127.0.0.1:$port" --set Port=5 \
  --set "LogFileName=$dir/session.log" -o "$dir/e2e.mse" >/dev/null || fail "settings"

QELWIN_HOME=$dir "$QELWIN" --connect network --trace --no-background "$dir/e2e.mse" >"$dir/qelwin.out" 2>&1 &
qelwin=$!
pids+=($qelwin)
wait_for 100 xdotool search --onlyvisible --name "QEL for Windows" || fail "no window appeared"
window=$(xdotool search --onlyvisible --name "QEL for Windows" | head -1)
# The title the window system shows is the caption itself, nothing appended.
title=$(xdotool getwindowname "$window")
[ "$title" = "QEL for Windows : [$dir/e2e.mse]" ] || fail "the window's title is \"$title\""
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
wait_for 100 grep -q "^session from" "$dir/exchange.out" || fail "the window did not connect"
# The banner ends with the prompt; Telnet has agreed the terminal type by then.
wait_for 50 grep -aq "." "$dir/received.log" || true
sleep 1

# File|Logfile through the menu's keys.
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers l
wait_for 30 test -e "$dir/session.log" || fail "File|Logfile did not open the log"

xdotool type --delay 25 "LIST 30"
xdotool key Return
wait_for 50 grep -aq "LIST 30" "$dir/received.log" || fail "the typed command did not reach the exchange"
sleep 1
xdotool type --delay 25 "TRACE"
xdotool key Return
wait_for 50 grep -aq "TRACE" "$dir/received.log" || fail "TRACE did not reach the exchange"
sleep 2
mkdir -p "$ARTIFACTS"
import -window "$window" "$ARTIFACTS/e2e-session.png" 2>/dev/null

# File|Exit: "Do you really want to quit?" Yes, then "...save the Screen
# Background File ?" No.
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers x
sleep 0.8
xdotool key Return
sleep 0.8
xdotool key --clearmodifiers alt+n
for ((i = 0; i < 100; i++)); do
  kill -0 "$qelwin" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$qelwin" 2>/dev/null && { import -window root "$ARTIFACTS/e2e-quit.png" 2>/dev/null; fail "qelwin did not quit"; }

log=$(tr -d '\r' <"$dir/session.log")
grep -q "END OF LISTING, 30 LINES" <<<"$log" || fail "the listing's answer is not in the log"
grep -q "^DIRECTORY NUMBER LISTING" <<<"$log" || fail "the listing's heading is not in the log"
# Trace conversion is on: the listing's lines must still be shown, every one.
[ "$(grep -c '^ *000[0-3][0-9]  5551' <<<"$log")" = 30 ] || fail "the listing's lines are not all in the log"
grep -q "Message identity       = 10_CALLREQ" <<<"$log" || fail "the trace was not decoded into the log"
grep -q "DIGITS(00006) = 4" <<<"$log" || fail "the decoded trace is incomplete"
echo "1 passed, 0 failed"
