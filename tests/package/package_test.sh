#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and checks it as a user would get it:
# the files, the desktop entry, and the unpacked program observing for one tick in a fresh
# configuration directory.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/mavrin-package-XXXXXX)
program_pid=
cleanup() {
  [[ -n "$program_pid" ]] && kill -9 "$program_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/mavrin_*.deb)
[[ -f "$deb" ]] || fail "no package"

fields=$(dpkg-deb -f "$deb" Package Version Depends)
echo "$fields"
grep -q '^Package: mavrin$' <<<"$fields" || fail "package name"
grep -q '^Version: 1.0.1$' <<<"$fields" || fail "version"
grep -q 'fonts-ipafont-gothic' <<<"$fields" || fail "the Japanese font is not a dependency"
grep -q 'qt6-translations-l10n' <<<"$fields" || fail "Qt's translations are not a dependency"
grep -q 'xdg-utils' <<<"$fields" || fail "the opener of the About box's address is not a dependency"
grep -q 'libc6' <<<"$fields" || fail "dependencies not computed from the binary"

root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/mavrin usr/bin/mavrin-start usr/share/applications/mavrin.desktop \
         usr/share/icons/hicolor/48x48/apps/mavrin.png usr/share/icons/hicolor/32x32/apps/mavrin.png \
         usr/share/icons/hicolor/16x16/apps/mavrin.png; do
  [[ -f "$root/$f" ]] || fail "missing $f"
done
[[ -x "$root/usr/bin/mavrin" && -x "$root/usr/bin/mavrin-start" ]] || fail "not executable"
if objdump -p "$root/usr/bin/mavrin" | grep -q 'NEEDED.*libQt6Widgets'; then
  grep -q 'libqt6widgets6' <<<"$fields" || fail "the Qt dependency is missing"
fi
[[ $(head -c 8 "$root/usr/share/icons/hicolor/48x48/apps/mavrin.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] \
  || fail "the icon is no PNG"
desktop-file-validate "$root/usr/share/applications/mavrin.desktop" || fail "desktop entry"
grep -q '^Exec=mavrin-start$' "$root/usr/share/applications/mavrin.desktop" || fail "Exec"
# Nothing of the build machine may leak into the package.
if grep -rl --binary-files=text "$(cd "$build" && pwd)" "$root/usr/share" "$root/usr/bin/mavrin-start" 2>/dev/null; then
  fail "a build path is in the package"
fi

# The launcher starts the unpacked program headless in $XDG_CONFIG_HOME/mavrin, created if missing.
config="$work/config"
rundir="$work/run"
mkdir -p "$rundir"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$rundir" MAVRIN_INSTANCE_DIR="$rundir" \
  "$root/usr/bin/mavrin-start" >"$work/stdout" 2>"$work/stderr" &
program_pid=$!
for _ in $(seq 1 100); do
  grep -q 'observing...' "$work/stdout" 2>/dev/null && break
  sleep 0.05
done
grep -q 'observing...' "$work/stdout" || { cat "$work/stderr"; fail "no observation tick"; }
kill -TERM "$program_pid"
wait "$program_pid" || fail "the program did not end cleanly"
program_pid=
[[ -f "$config/mavrin/mavrin.ini" ]] || fail "no settings file in the configuration directory"
grep -q '^\[MAV_RIN\]' "$config/mavrin/mavrin.ini" || fail "settings file content"
