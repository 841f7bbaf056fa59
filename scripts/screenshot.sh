#!/usr/bin/env bash
# Refreshes docs/window.png: the real updater window after a successful run of the demo package,
# taken on a private Xvfb display. Builds when needed; the package is generated at a small scale
# (the window shows the same journal at any size).
#
#   scripts/screenshot.sh [--out FILE] [--scale S]
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
shot=$checkout/docs/window.png
scale=0.05
while [ $# -gt 0 ]; do
    case "$1" in
    --out) shot=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    -h | --help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
install_missing_packages xvfb imagemagick x11-apps xdotool
source scripts/lib/demo_suite.sh
demo_firebird_env

if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$(nproc)" --target tessara-updater tessara-pack rar tessara-demo-package \
    >/dev/null
bin=$checkout/build/bin

# The journal in the picture shows the suite's and the work directory's paths, so both have
# plain names: the suite in a fixed scratch directory (replaced on every run), the work directory
# where the updater always puts it.
temp=${TMPDIR:-/tmp}
temp=${temp%/}
suite=$temp/tessara-screenshot
work=$temp/lib.kvr
if [ -e "$suite" ] && [ ! -f "$suite/lib.ini" ]; then
    echo "$suite exists and is no demo suite: not replacing it" >&2
    exit 1
fi
scratch=$(mktemp -d "$temp/tessara-screenshot-package.XXXXXX")
xvfb_pid=
updater_pid=
window=

# Closes the window with «Зачинити» (Esc needs an active window, which Xvfb without a window
# manager never has); a window that stays is asked with SIGTERM, then killed, by its PID.
stop_updater() {
    [ -n "$updater_pid" ] || return 0
    if [ -n "$window" ]; then
        xdotool mousemove --window "$window" 592 435 click 1 2>/dev/null || true
    fi
    local signal
    for signal in TERM KILL; do
        for _ in $(seq 1 50); do
            kill -0 "$updater_pid" 2>/dev/null || break 2
            sleep 0.1
        done
        kill -"$signal" "$updater_pid" 2>/dev/null || true
    done
    wait "$updater_pid" 2>/dev/null || true
    updater_pid=
}
cleanup() {
    # Only the processes this script started, by their PIDs.
    stop_updater || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch" "$suite"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE  # run the cleanup on signals too

make_demo_suite "$suite" "$bin" 237
"$bin/tessara-demo-package" --scale "$scale" --out "$scratch/238" >/dev/null
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$scratch/238" >/dev/null

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
export DISPLAY=:$display

touch "$scratch/started"
"$suite/tessara-updater" >"$scratch/updater.log" 2>&1 &
updater_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name "Оновлення" | head -n 1)
[ -n "$window" ] || { echo "the updater window did not appear" >&2; exit 1; }
sleep 2  # the pre-flight: connect, version, packages; it enables «Оновить»

# Without a window manager nothing is activated by itself: click «Оновить» where the form puts it
# (75 x 25 at 467,9 in the 42-high bottom panel of the 635 x 456 client area).
press_update() {
    xdotool mousemove --window "$window" 504 435 click 1
}
press_update
# Work directory entries this run has touched (a rename changes an entry's ctime); entries of
# earlier runs may still be there.
touched() {
    find "$work" -mindepth 1 -maxdepth 1 -cnewer "$scratch/started" "$@" 2>/dev/null
}
finished=
for i in $(seq 1 600); do
    # The last file of the last pass renamed and the package file deleted: the run has ended.
    if [ -n "$(touched -name 'INFO_DOC.NOTE_U.ID 10.~blo')" ] && [ ! -e "$work/238.rar" ]; then
        finished=1
        break
    fi
    if [ "$i" -eq 50 ] && [ -z "$(touched)" ]; then
        press_update  # the first click came before the pre-flight had enabled the button
    fi
    kill -0 "$updater_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$finished" ] || { echo "the update did not finish; updater output:" >&2; cat "$scratch/updater.log" >&2; exit 1; }
sleep 1  # the final journal line and a repaint

mkdir -p "$(dirname "$shot")"
import -window "$window" "$shot"
stop_updater
version=$(demo_sql_values "$suite/lib.gdb" "select data from versions")
echo "$shot written ($(identify -format '%wx%h' "$shot")); database version after the run: $version"
[ "$version" = 238 ]
