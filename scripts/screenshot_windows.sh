#!/usr/bin/env bash
# Refreshes docs/window-windows.png: the Windows updater (build-windows/, see
# scripts/test_windows.sh) under Wine on a private Xvfb display after a successful run of the
# demo package 238 (small scale) against a private Linux Firebird server, through the tests'
# Windows Firebird client (scripts/fbclient/build.sh).
#
#   scripts/screenshot_windows.sh [--out FILE] [--scale S]
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
shot=$checkout/docs/window-windows.png
scale=0.05
while [ $# -gt 0 ]; do
    case "$1" in
    --out) shot=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    -h | --help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
install_missing_packages "${WINDOWS_PACKAGES[@]}" imagemagick x11-apps xdotool
source scripts/lib/demo_suite.sh
demo_firebird_env
fbclient=$(scripts/fbclient/build.sh | tail -n 1)

# The Linux build gives the demo package and the database; the Windows build the programs.
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$(nproc)" --target tessara-demo-package >/dev/null
build=$checkout/build-windows
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target tessara-updater tessara-pack test_rar \
    test_window_driver >/dev/null

source scripts/lib/wine.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessara-screenshot-windows.XXXXXX")
updater_pid=
cleanup() {
    # Only what this script started.
    if [ -n "$updater_pid" ]; then kill -KILL "$updater_pid" 2>/dev/null || true; fi
    stop_wine_session
    scripts/firebird_server.sh stop "$scratch/server" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE
start_wine_session "$build"

# The database at version 237 on a private server, the package 238.
database=$scratch/lib.gdb
create_demo_database "$database" 237
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    scripts/firebird_server.sh start "$scratch/server" "$port" 2>"$scratch/server.err" && break
    port=
done
[ -n "$port" ] || { echo "the private server did not start: $(cat "$scratch/server.err")" >&2; exit 1; }
build/bin/tessara-demo-package --scale "$scale" --program-files --out "$scratch/238" >/dev/null

# The suite in C:\Tessara of the prefix, so that the picture shows a plain path: the updater
# carrying package 238, the test archiver and client, lib.ini naming the server's database.
suite=$WINEPREFIX/drive_c/Tessara
rm -rf "$suite"
mkdir -p "$suite/Reports"
cp "$build/bin/rar.exe" "$fbclient" "$suite/"
printf '[Common]\r\nTypeServer=1\r\nNameServer=127.0.0.1/%s\r\nPathBaseGDB=%s\r\n' \
    "$port" "$database" >"$suite/lib.ini"
wine "$build/bin/tessara-pack.exe" --updater "$(winepath -w "$build/bin/tessara-updater.exe")" \
    --out 'C:\Tessara\tessara-updater.exe' "238=$(winepath -w "$scratch/238")" \
    </dev/null >/dev/null

# Wine's virtual desktop draws the windows' frames and title bars as Windows would, which a
# bare X display without a window manager does not. The driver presses «Оновить», answers the
# boxes and leaves the window open at the end of the run.
(cd "$suite" && exec wine explorer /desktop=Tessara,800x600 'C:\Tessara\tessara-updater.exe' \
    </dev/null >"$scratch/updater.log" 2>&1) &
updater_pid=$!
disown "$updater_pid"  # killed by the cleanup, without a word from the shell
wine "$build/bin/test_window_driver.exe" --leave-open --desktop Tessara \
    'C:\Tessara\tessara-updater.exe' >"$scratch/journal" 2>&1 ||
    { cat "$scratch/journal" "$scratch/updater.log" >&2; exit 1; }
grep -qx 'Оновлення завершене успішно' "$scratch/journal" ||
    { echo "the update did not succeed:" >&2; cat "$scratch/journal" >&2; exit 1; }
sleep 2  # the last line painted
desktop=$(xdotool search --onlyvisible --name '^Tessara - Wine desktop$' | head -n 1)
[ -n "$desktop" ] || { echo "no Wine desktop window" >&2; exit 1; }
mkdir -p "$(dirname "$shot")"
# The main window's frame at the desktop's top left corner: 635 x 456 inside Wine's borders and
# title bar.
import -window "$desktop" -crop 643x483+0+0 +repage "$shot"
version=$(demo_sql_values "127.0.0.1/$port:$database" "select data from versions")
rm -rf "$suite"
echo "$shot written ($(identify -format '%wx%h' "$shot")); database version after the run: $version"
[ "$version" = 238 ]
