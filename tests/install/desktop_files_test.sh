#!/usr/bin/env bash
# The installed desktop entry and AppStream metadata pass their validators
# (on the installed tree, so the metadata's launchable must be there too),
# and they point at what was installed: the entry starts qelwin with the
# installed icon, the metadata's newest release is the programs' version.
#   desktop_files_test.sh BUILD_DIR
set -uo pipefail
BUILD=$1
source "$(dirname "$0")/common.sh"
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./qel test installs desktop-file-utils and appstream)"
done
root=$dir/root
prefix=/usr
DESTDIR=$root install_into "$BUILD" "$prefix"
app=org.qelwin.QelWin
entry=$root$prefix/share/applications/$app.desktop
metainfo=$root$prefix/share/metainfo/$app.metainfo.xml

# Hints count as failures too: the entry is ours to keep clean.
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
expect_line "$(cat "$entry")" "Exec=qelwin %f"
expect_line "$(cat "$entry")" "Icon=$app"
[ -s "$root$prefix/share/icons/hicolor/scalable/apps/$app.svg" ] || fail "the entry's icon is not installed"

# --no-net: the validator would otherwise fetch the URLs it meets, and the
# test runs without a network.
report=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "appstreamcli validate-tree: $report"

version=$("$root$prefix/bin/qel" --version) || fail "qel --version"
newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -1)
[ "qel $newest" = "$version" ] || fail "the metadata's newest release is $newest, the programs say '$version'"
echo "PASS"
