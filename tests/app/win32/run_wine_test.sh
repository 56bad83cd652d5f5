#!/usr/bin/env bash
# Cross-builds the Windows edition and its test programs, makes a throw-away Wine prefix under a
# virtual X display, and runs the test driver, which plays the user of mavrin.exe, twice: with a
# Japanese locale (code page 932), where the program must speak Japanese, and with an American one
# (code page 1252), where it must speak English. The settings file and the log the two runs leave
# must be the same bytes (the log's time stamps aside). Everything it starts and makes is removed
# again, however it ends.
#
#   run_wine_test.sh <source dir> <work dir>                  the end-to-end test
#   run_wine_test.sh --screenshots <source dir> <build dir>   pictures of the dialogs into
#                                                             <build dir>/screenshots/{ja,en}
# Exit code 77 (a skip for CTest) only when this machine lacks what the test needs from outside the
# project (the cross compiler, Wine, a virtual display, the two locales, a Wine prefix).
set -uo pipefail

screenshots=0
if [[ "${1:-}" == "--screenshots" ]]; then
  screenshots=1
  shift
fi
[[ $# -eq 2 ]] || { echo "usage: $0 [--screenshots] <source dir> <work dir>" >&2; exit 2; }
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
command -v x86_64-w64-mingw32-g++-posix >/dev/null || skip "no mingw-w64 cross compiler"
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || skip "no Wine ($wine)"
command -v xvfb-run >/dev/null || skip "no xvfb-run"
command -v localedef >/dev/null || skip "no localedef"

if [[ $screenshots -eq 1 ]]; then
  build=$work
  run=$work/screenshots.run
else
  build=$work/build
  run=$work/run
fi
export WINEPREFIX=$run/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  [[ -d $WINEPREFIX ]] && /usr/lib/wine/wineserver -k >/dev/null 2>&1
  rm -rf "$run"
}
trap cleanup EXIT
rm -rf "$run"
mkdir -p "$run/work-ja" "$run/work-en" "$run/locale"

# The Windows programs: configured once, built every time.
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMAVRIN_HOST_BUILD_DIR="$build/host-tools" >/dev/null || exit 1
fi
cmake --build "$build" -j 2 || exit 1

# Wine takes its code page and interface language from the locale: ja_JP gives 932 and Japanese,
# en_US 1252 and English.
localedef -i ja_JP -f UTF-8 "$run/locale/ja_JP.UTF-8" >/dev/null 2>&1 || skip "no ja_JP locale source"
localedef -i en_US -f UTF-8 "$run/locale/en_US.UTF-8" >/dev/null 2>&1 || skip "no en_US locale source"
export LOCPATH=$run/locale

winpath() { printf 'Z:%s' "${1//\//\\}"; }
shots_ja=""
shots_en=""
if [[ $screenshots -eq 1 ]]; then
  rm -rf "$build/screenshots"
  mkdir -p "$build/screenshots/ja" "$build/screenshots/en"
  shots_ja="'$(winpath "$build/screenshots/ja")'"  # quoted: the inner script must keep the backslashes
  shots_en="'$(winpath "$build/screenshots/en")'"
fi

cat >"$run/inside.sh" <<INSIDE
set -u
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
timeout 120 "$wine" wineboot -i >"$run/wineboot.log" 2>&1
[[ -d "$WINEPREFIX/drive_c/windows/system32" ]] || exit 77
# The dialogs' Japanese font names, mapped to the installed IPA Gothic.
for face in "MS UI Gothic" "ＭＳ ゴシック" "ＭＳ Ｐゴシック" "MS Gothic" "MS Shell Dlg" "MS Shell Dlg 2"; do
  "$wine" reg add 'HKCU\\Software\\Wine\\Fonts\\Replacements' /v "\$face" /d IPAGothic /f >/dev/null 2>&1
done
failed=0
cd "$run/work-ja"
echo "---- Japanese (ja_JP.UTF-8) ----"
timeout 300 "$wine" "$build/tests/mavrin_test_driver.exe" "$(winpath "$build/mavrin.exe")" "$(winpath "$run/work-ja")" ja $shots_ja
failed=\$((failed + \$?))
/usr/lib/wine/wineserver -w
# An English Windows has its own faces for the dialogs' fonts.
"$wine" reg delete 'HKCU\\Software\\Wine\\Fonts\\Replacements' /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
cd "$run/work-en"
echo "---- English (en_US.UTF-8) ----"
timeout 300 "$wine" "$build/tests/mavrin_test_driver.exe" "$(winpath "$build/mavrin.exe")" "$(winpath "$run/work-en")" en $shots_en
failed=\$((failed + \$?))
echo "---- run-time controls of the dialog backend ----"
timeout 120 "$wine" "$build/tests/mavrin_test_blocks.exe"
failed=\$((failed + \$?))
exit \$failed
INSIDE
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$run/inside.sh" 2>&1 | tr -d '\r' | iconv -f CP932 -t UTF-8 -c |
  grep -v -e '^observing\.\.\.$' -e 'so don.t care it\.$'
status=${PIPESTATUS[0]}
if [[ $status -eq 77 ]]; then
  sed -n '1,20p' "$run/wineboot.log"
  skip "Wine could not make a prefix"
fi

# Neither the settings file nor the log depends on the language (the log's time stamps aside).
if [[ $screenshots -eq 0 ]]; then
  if cmp -s "$run/work-ja/mavrin.ini" "$run/work-en/mavrin.ini"; then
    echo "ok: mavrin.ini is the same bytes in both languages"
  else
    echo "FAIL: mavrin.ini differs between the languages"
    status=$((status + 1))
  fi
  untimed() { sed -E 's/^\([0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\) //' "$1"; }
  if [[ -s $run/work-ja/mavrin.log ]] && cmp -s <(untimed "$run/work-ja/mavrin.log") <(untimed "$run/work-en/mavrin.log"); then
    echo "ok: mavrin.log is the same bytes in both languages, time stamps aside"
  else
    echo "FAIL: mavrin.log differs between the languages"
    diff <(untimed "$run/work-ja/mavrin.log") <(untimed "$run/work-en/mavrin.log") | head -10
    status=$((status + 1))
  fi
fi

if [[ $screenshots -eq 1 ]]; then
  for bmp in "$build"/screenshots/*/*.bmp; do
    [[ -f $bmp ]] || continue
    if command -v convert >/dev/null; then convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; fi
  done
  echo "screenshots: $(cd "$build/screenshots" && ls */* | tr '\n' ' ')"
fi
[[ $status -eq 0 ]] || { echo "the Windows edition failed $status check(s) under Wine (exit $status)"; exit 1; }
echo "all checks passed under Wine"
