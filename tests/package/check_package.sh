#!/usr/bin/env bash
# Makes the Debian package from a Release build folder and checks it as Debian and a user
# would: lintian, the desktop entry and AppStream validators, every file at its place, the
# icons against their SVG, the manual page against the tool's --help, and the window
# started from an unpacked copy of the package.
#
#   tests/package/check_package.sh RELEASE_BUILD_DIR
set -euo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: check_package.sh RELEASE_BUILD_DIR}")"
[[ -f "$build/CPackConfig.cmake" ]] || { echo "package: $build is not a configured build folder" >&2; exit 1; }

work="$(mktemp -d)"
window_pid=""
cleanup() {
  if [[ -n "$window_pid" ]]; then kill "$window_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "package: FAILED: $*" >&2; exit 1; }
pass() { echo "package: ok: $*"; }

# --- The package -----------------------------------------------------------------------------
cmake --build "$build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the Release build"; }
rm -f "$build"/talvo-ftp_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$build"/talvo-ftp_*.deb)
[[ ${#debs[@]} == 1 && -f "${debs[0]}" ]] || fail "cpack made no single talvo-ftp_*.deb"
deb="${debs[0]}"
pass "built $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(field Section)" == net ]] || fail "Section is '$(field Section)', not net"
depends="$(field Depends)"
for library in libc6 libqt6widgets6 libglib2.0-0 fonts-liberation; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
description="$(field Description)"
[[ "$(wc -l <<<"$description")" -ge 3 && "$description" == *$'\n .\n'* ]] ||
  fail "Description is not a short line and paragraphs: $description"
pass "control: Section net, Depends from the binaries ($depends)"

# --- lintian: no error and no warning, and no hardening tag at any level ------------------------
if ! lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"
  fail "lintian"
fi
if grep -q 'hardening-' "$work/lintian.log"; then
  cat "$work/lintian.log"
  fail "lintian finds the programs without the hardening Debian gives"
fi
pass "lintian reports no error, no warning and no hardening tag"

# --- The files at their places -------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/TalvoFTP /usr/bin/talvoftp-cli \
            /usr/share/applications/talvo-ftp.desktop \
            /usr/share/icons/hicolor/scalable/apps/talvo-ftp.svg \
            /usr/share/icons/hicolor/48x48/apps/talvo-ftp.png \
            /usr/share/icons/hicolor/256x256/apps/talvo-ftp.png \
            /usr/share/man/man1/talvoftp-cli.1.gz /usr/share/man/man1/TalvoFTP.1.gz \
            /usr/share/metainfo/org.example.talvoftp.metainfo.xml \
            /usr/share/doc/talvo-ftp/copyright /usr/share/doc/talvo-ftp/changelog.gz; do
  grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
pass "dpkg-deb -c lists the programs, desktop entry, icons, manual pages, metainfo and docs"

root="$work/root"
dpkg-deb -x "$deb" "$root"
changelog_version="$(zcat "$root/usr/share/doc/talvo-ftp/changelog.gz" | sed -n '1s/^talvo-ftp (\([^)]*\)).*/\1/p')"
[[ "$changelog_version" == "$(field Version)" ]] ||
  fail "the changelog's version ($changelog_version) is not the package's ($(field Version))"

# --- Hardening: what dpkg-buildflags gives (see packaging/Hardening.cmake) ----------------------
for program in TalvoFTP talvoftp-cli; do
  hardening-check --quiet "$root/usr/bin/$program" >"$work/hardening.log" 2>&1 ||
    { hardening-check "$root/usr/bin/$program"; fail "hardening-check $program"; }
done
pass "hardening-check passes on both programs"

# --- Desktop entry and AppStream ------------------------------------------------------------------
desktop-file-validate "$root/usr/share/applications/talvo-ftp.desktop" || fail "desktop-file-validate"
grep -qx 'Icon=talvo-ftp' "$root/usr/share/applications/talvo-ftp.desktop" || fail "the desktop entry does not use the icon"
# Offline: the screenshot's address is not fetched.
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate-tree"; }
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.talvoftp.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }
pass "desktop-file-validate and appstreamcli validate (--no-net) pass"

# --- Icons: the PNGs are the SVG's renderings ----------------------------------------------------
"$repo/scripts/render-icons.sh" "$work/icons"
for size in 48 256; do
  cmp -s "$work/icons/talvo-ftp-$size.png" "$repo/packaging/icons/talvo-ftp-$size.png" ||
    fail "packaging/icons/talvo-ftp-$size.png is not the SVG's rendering: run scripts/render-icons.sh"
  installed="$root/usr/share/icons/hicolor/${size}x${size}/apps/talvo-ftp.png"
  file "$installed" | grep -q ", $size x $size," || fail "$installed is not $size x $size pixels"
done
pass "the PNG icons are the SVG rendered at 48 and 256 pixels"

# --- Manual pages ---------------------------------------------------------------------------------
render() { MANWIDTH=200 LC_ALL=C.UTF-8 man --nh --nj -l "$1" 2>"$work/man.err"; }
cli_page="$(render "$root/usr/share/man/man1/talvoftp-cli.1.gz")"
[[ ! -s "$work/man.err" ]] || { cat "$work/man.err"; fail "man -l reports problems in talvoftp-cli.1"; }
[[ "$cli_page" == *"talvoftp-cli - console FTP client"* ]] || fail "talvoftp-cli.1 has no NAME line: $cli_page"
options="$("$root/usr/bin/talvoftp-cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)"
[[ -n "$options" ]] || fail "talvoftp-cli --help lists no option"
for option in $options; do
  grep -qF -- "$option" <<<"$cli_page" || fail "the manual page lacks $option"
done
version="$("$root/usr/bin/talvoftp-cli" --version)"
grep -qF -- "$version" <<<"$cli_page" || fail "the manual page lacks the version '$version'"
window_page="$(render "$root/usr/share/man/man1/TalvoFTP.1.gz")"
[[ ! -s "$work/man.err" && "$window_page" == *"TalvoFTP - "* ]] || fail "TalvoFTP.1 does not render"
pass "man -l renders both pages; talvoftp-cli.1 lists all $(wc -w <<<"$options") options of --help"

# --- The window, from the unpacked package -------------------------------------------------------
if ldd "$root/usr/bin/TalvoFTP" | grep -q 'not found'; then
  ldd "$root/usr/bin/TalvoFTP"
  fail "the unpacked window lacks libraries"
fi
mkdir -p "$work/home"
(cd "$work/home" && HOME="$work/home" QT_QPA_PLATFORM=offscreen exec "$root/usr/bin/TalvoFTP") \
  >"$work/window.log" 2>&1 &
window_pid=$!
sleep 2
kill -0 "$window_pid" 2>/dev/null || { cat "$work/window.log"; window_pid=""; fail "the unpacked window did not stay up"; }
kill "$window_pid"
status=0
wait "$window_pid" || status=$?
window_pid=""
[[ $status == 143 ]] || { cat "$work/window.log"; fail "the window ended with status $status, not by the stop signal"; }
pass "the window from the unpacked package starts on the offscreen platform"
echo "package: all checks passed"
