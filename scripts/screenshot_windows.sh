#!/usr/bin/env bash
# Refreshes docs/window-windows.png: the Windows updater (build-windows/, see
# scripts/test_windows.sh) under Wine on a private Xvfb display, in a suite directory without
# the Firebird client library: the checks up to the connection and the error box they end with.
#
#   scripts/screenshot_windows.sh [--out FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
shot=$checkout/docs/window-windows.png
while [ $# -gt 0 ]; do
    case "$1" in
    --out) shot=$2; shift 2 ;;
    -h | --help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
install_missing_packages "${WINDOWS_PACKAGES[@]}" imagemagick x11-apps xdotool
build=$checkout/build-windows
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target tessara-updater tessara-pack >/dev/null

source scripts/lib/wine.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessara-screenshot-windows.XXXXXX")
cleanup() {
    stop_wine_session
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE
start_wine_session "$build"

# The suite in C:\Tessara of the prefix, so that the picture shows a plain path: lib.ini naming
# a database, the updater carrying package 238, no fbclient.dll.
suite=$WINEPREFIX/drive_c/Tessara
rm -rf "$suite"
mkdir -p "$suite" "$scratch/238"
printf 'update versions set data = 238;\r\n' >"$scratch/238/up.99.238.lsql"
printf '[Common]\r\nPathBaseGDB=C:\\Tessara\\lib.gdb\r\n' >"$suite/lib.ini"
wine "$build/bin/tessara-pack.exe" --updater "$(winepath -w "$build/bin/tessara-updater.exe")" \
    --out 'C:\Tessara\tessara-updater.exe' "238=$(winepath -w "$scratch/238")" \
    </dev/null >/dev/null

# Wine's virtual desktop draws the windows' frames and title bars as Windows would, which a
# bare X display without a window manager does not.
(cd "$suite" && exec wine explorer /desktop=Tessara,800x600 'C:\Tessara\tessara-updater.exe' \
    </dev/null >"$scratch/updater.log" 2>&1) &
# The error box's text goes to the run record just before the box comes up.
for _ in $(seq 1 300); do
    grep -q '\[message\]' "$suite/tessara-updater.log" 2>/dev/null && break
    sleep 0.1
done
grep -q '\[message\]' "$suite/tessara-updater.log" ||
    { echo "the checks did not end with an error box" >&2; exit 1; }
sleep 2  # the box painted
desktop=$(xdotool search --onlyvisible --name '^Tessara - Wine desktop$' | head -n 1)
[ -n "$desktop" ] || { echo "no Wine desktop window" >&2; exit 1; }
mkdir -p "$(dirname "$shot")"
# The main window's frame at the desktop's top left corner: 635 x 456 inside Wine's borders and
# title bar.
import -window "$desktop" -crop 643x483+0+0 +repage "$shot"
rm -rf "$suite"
echo "$shot written ($(identify -format '%wx%h' "$shot"))"
