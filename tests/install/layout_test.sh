#!/usr/bin/env bash
# An install under a prefix holds the programs, the files they bundle and the
# desktop's files, and nothing else of the build. From there, away from the
# build and source trees, the installed qel decodes the installed samples and
# serves them as the simulated exchange, and the installed qelwin names the
# manual's copy and starts offscreen.
#   layout_test.sh BUILD_DIR
set -uo pipefail
BUILD=$1
source "$(dirname "$0")/common.sh"
prefix=$(realpath "$dir")/p
install_into "$BUILD" "$prefix"
cd "$dir" || fail "cd"
app=org.qelwin.QelWin
share=$prefix/share
samples=$share/qelwin/samples
qel=$prefix/bin/qel
qelwin=$prefix/bin/qelwin

# --- the layout
[ "$(ls "$prefix")" = "$(printf 'bin\nshare')" ] || fail "the prefix holds: $(ls "$prefix")"
[ "$(ls "$prefix/bin")" = "$(printf 'qel\nqelwin')" ] || fail "bin holds: $(ls "$prefix/bin")"
[ -x "$qel" ] && [ -x "$qelwin" ] || fail "the programs are not executable"
[ "$(ls "$share")" = "$(printf 'applications\ndoc\nicons\nman\nmetainfo\nqelwin')" ] || fail "share holds: $(ls "$share")"
for file in applications/$app.desktop metainfo/$app.metainfo.xml icons/hicolor/scalable/apps/$app.svg \
            man/man1/qel.1 man/man1/qelwin.1 doc/qelwin/manual.html doc/qelwin/README.md doc/qelwin/docs/settings.md \
            qelwin/samples/exchange.msg qelwin/samples/KASP.MSG qelwin/samples/demo.mse qelwin/samples/exchange.trace; do
  [ -s "$share/$file" ] || fail "share/$file is missing or empty"
done
leftovers=$(find "$prefix" -name '*.o' -o -name '*.a' -o -name 'CMake*' -o -name '*test*')
[ -z "$leftovers" ] || fail "build files were installed: $leftovers"

# Each PNG is a PNG as large as its folder says (IHDR width and height,
# big-endian, from byte 16).
for size in 16 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$app.png
  [ "$(od -An -c -j1 -N3 "$png" 2>/dev/null | tr -d ' ')" = PNG ] || fail "$png is not a PNG"
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}')
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

# The manual pages are pages of their programs, and say what serial ports need.
[ "$(head -c 11 "$share/man/man1/qel.1")" = ".TH qel 1 \"" ] || fail "qel.1: $(head -1 "$share/man/man1/qel.1")"
[ "$(head -c 14 "$share/man/man1/qelwin.1")" = ".TH qelwin 1 \"" ] || fail "qelwin.1: $(head -1 "$share/man/man1/qelwin.1")"
grep -q "dialout" "$share/man/man1/qelwin.1" || fail "qelwin.1 does not name the dialout group"

# --- the installed qel on the installed samples
version=$("$qel" --version) || fail "qel --version"
[[ $version =~ ^qel\ [0-9]+(\.[0-9]+)+$ ]] || fail "qel --version: $version"
mode=$("$qel" settings "$samples/demo.mse" --get ModeFileName --get OrnetDirectoryName) || fail "demo.mse: $mode"
[ "$mode" = "$(printf 'ModeFileName=%s\nOrnetDirectoryName=%s' "$samples/exchange" "$samples/")" ] ||
  fail "the installed demo.mse does not name the installed mode files: $mode"
decoded=$("$qel" decode --mode "$samples/exchange" --ornet "$samples/" --settings "$samples/demo.mse" \
          "$samples/exchange.trace" 2>&1) || fail "qel decode: $decoded"
expect_line "$decoded" "Message identity       = 10_CALLREQ"
expect_line "$decoded" "  MSG TYPE      = 0005(SETUP)"
decoded=$("$qel" decode --mode "$samples/exchange" --ornet "$samples/" --settings "$samples/demo.mse" \
          --mini "$samples/mini.trace" 2>&1) || fail "qel decode --mini: $decoded"
expect_line "$decoded" "Message identity       = 00010 CALL_REQ"

# qel exchange finds the installed traces by itself: TRACE prints the
# recorded trace, whose first line is the monitor's banner.
"$qel" exchange --listen 127.0.0.1:0 >"$dir/exchange.out" 2>&1 &
pids+=($!)
wait_for 100 grep -q "^listening on" "$dir/exchange.out" || fail "the exchange did not start: $(cat "$dir/exchange.out")"
grep -q "no sample traces" "$dir/exchange.out" && fail "the installed exchange did not find its traces"
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/exchange.out")
live=$("$qel" connect --host "127.0.0.1:$port" --send "TRACE<CR>" --send "BYE<CR>" --for 30 --log 2>&1) ||
  fail "qel connect: $live"
grep -qF "QUORIX MONITOR  V6.2   EXCHANGE DEMO-1" <<<"$live" || fail "TRACE did not print the installed trace: $live"

# --- the installed qelwin: the manual's copy beside it, answered without a display
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$qelwin" --help) || fail "qelwin --help"
expect_line "$help" "The manual: Help|Help, or $share/doc/qelwin/manual.html in a browser."
grep -q "<title>QEL for Windows</title>" "$share/doc/qelwin/manual.html" || fail "manual.html is not the manual"
[ "$(env -u DISPLAY "$qelwin" --version)" = "qelwin ${version#qel }" ] || fail "qelwin and qel differ in version"

# It starts offscreen: the window has started up when its D-Bus name is
# taken; SIGTERM then ends it cleanly.
command -v dbus-run-session >/dev/null || fail "dbus-run-session is missing (./qel test installs dbus)"
mkdir -p "$dir/home"
QELWIN_HOME=$dir/home QT_QPA_PLATFORM=offscreen dbus-run-session -- bash -c '
  "$1" --no-background >"$2/qelwin.out" 2>&1 &
  pid=$!
  for ((i = 0; i < 300; i++)); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.qelwin.qelwin 2>/dev/null | grep -q "boolean true" && break
    kill -0 $pid 2>/dev/null || { echo "qelwin ended at start"; exit 1; }
    sleep 0.1
  done
  ((i < 300)) || { echo "qelwin did not start up"; kill $pid; exit 1; }
  kill -TERM $pid
  wait $pid || { echo "qelwin ended with $? on SIGTERM"; exit 1; }
' qelwin "$qelwin" "$dir" || fail "$(cat "$dir/qelwin.out")"
echo "PASS"
