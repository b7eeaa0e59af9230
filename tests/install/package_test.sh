#!/usr/bin/env bash
# The Debian package from CPack: the programs, their bundled files and the
# desktop's files under /usr, and its Depends naming the package of every
# shared library the programs load (Qt 6, libcurl and libssh among them), as
# dpkg-shlibdeps finds them.
#   package_test.sh BUILD_DIR
set -uo pipefail
BUILD=$1
source "$(dirname "$0")/common.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps readelf; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./qel test installs dpkg-dev)"
done
cpack --config "$BUILD/CPackConfig.cmake" -B "$dir/out" >"$dir/cpack.out" 2>&1 || fail "cpack: $(cat "$dir/cpack.out")"
version=$("$BUILD/tools/qel" --version) || fail "qel --version"
version=${version#qel }
deb=$dir/out/qelwin_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$dir/out")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qelwin ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
# Not piped into grep -q: under pipefail dpkg-deb may die of the closed pipe.
grep -q dialout <<<"$(field Description)" || fail "the description does not say serial ports need the dialout group"
# Debian's control format: the extended description's lines are short.
long=$(field Description | awk 'length > 80')
[ -z "$long" ] || fail "description lines over 80 characters: $long"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/qel usr/bin/qelwin usr/share/applications/org.qelwin.QelWin.desktop \
            usr/share/icons/hicolor/scalable/apps/org.qelwin.QelWin.svg \
            usr/share/icons/hicolor/48x48/apps/org.qelwin.QelWin.png \
            usr/share/metainfo/org.qelwin.QelWin.metainfo.xml usr/share/man/man1/qel.1 usr/share/man/man1/qelwin.1 \
            usr/share/doc/qelwin/manual.html usr/share/qelwin/samples/demo.mse usr/share/doc/qelwin/README.md; do
  expect_line "$contents" "./$path"
done
outside=$(grep -v '^\./usr/' <<<"$contents" | grep -vx '\./')
[ -z "$outside" ] || fail "files outside /usr: $outside"

# Every library the programs need comes with the package that holds it.
dpkg-deb -x "$deb" "$dir/root" || fail "dpkg-deb -x"
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for program in qel qelwin; do
  for library in $(readelf -d "$dir/root/usr/bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    file=$(ldconfig -p | awk -v l="$library" '$1 == l && /x86-64|x86_64/ {print $NF; exit}')
    [ -n "$file" ] || file=$(ldconfig -p | awk -v l="$library" '$1 == l {print $NF; exit}')
    owner=$(dpkg -S "$(realpath "$file")" 2>/dev/null | head -1 | cut -d: -f1)
    [ -n "$owner" ] || owner=$(dpkg -S "$file" 2>/dev/null | head -1 | cut -d: -f1)
    [ -n "$owner" ] || fail "no package holds $library ($file)"
    expect_line "$depends" "$owner"
  done
done
grep -q '^libqt6widgets6' <<<"$depends" || fail "Qt 6 Widgets is not among the Depends: $depends"
grep -q '^libcurl4' <<<"$depends" || fail "libcurl is not among the Depends: $depends"
grep -q '^libssh-' <<<"$depends" || fail "libssh is not among the Depends: $depends"

# The demo settings name the mode files where the package puts them.
mode=$("$dir/root/usr/bin/qel" settings "$dir/root/usr/share/qelwin/samples/demo.mse" --get ModeFileName) ||
  fail "demo.mse: $mode"
[ "$mode" = "ModeFileName=/usr/share/qelwin/samples/exchange" ] || fail "the packaged demo.mse names $mode"
echo "PASS"
