#!/usr/bin/env bash
# qelwin as a screen reader meets it: under Xvfb, on a session bus with the
# accessibility bus and its registry, read over AT-SPI by python3-pyatspi.
#   qelwin_atspi.sh QELWIN PROBE.py
set -uo pipefail
QELWIN=$1 PROBE=$2
if [ -z "${QEL_ATSPI_INNER:-}" ]; then
  export QEL_ATSPI_INNER=1
  exec dbus-run-session -- bash "$0" "$@"
fi

source "$(dirname "$0")/xsession.sh"
for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher /usr/libexec/at-spi2-registryd; do
  command -v "$tool" >/dev/null || [ -x "$tool" ] || fail "$tool is missing (./qel installs it)"
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || fail "python3-pyatspi is missing (./qel installs it)"

start_xvfb 121 150
/usr/libexec/at-spi-bus-launcher --launch-immediately --a11y=1 >/dev/null 2>&1 &
pids+=($!)
sleep 1
/usr/libexec/at-spi2-registryd >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QELWIN_HOME=$dir "$QELWIN" --no-background >"$dir/qelwin.out" 2>&1 &
pids+=($!)
if /usr/bin/python3 "$PROBE" "Logged in at : "; then
  echo "1 passed, 0 failed"
else
  cat "$dir/qelwin.out"
  exit 1
fi
