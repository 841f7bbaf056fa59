#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests with mingw-w64 into build-windows/ (a
# warning fails the build) and runs the tests under Wine: a Wine prefix of the build tree's own,
# one wineserver kept running for the whole run, and a private Xvfb display for the window tests.
#
#   scripts/test_windows.sh [ctest arguments, e.g. -R Win32Form]
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
source scripts/lib/packages.sh
install_missing_packages "${WINDOWS_PACKAGES[@]}"

build=$checkout/build-windows
started=$SECONDS
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "cross-build: $((SECONDS - started)) s"

# Nothing outside the build tree is touched: the prefix lives in it. No Mono or Gecko: nothing
# here needs them, and their installers would ask.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
    # Only what this script started: the prefix's own wineserver (with the programs of this
    # prefix), and the Xvfb by its PID.
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# A Win32 window program without a display hangs: the window tests get a display of their own,
# on a number Xvfb picks itself.
display_file=$build/xvfb.display
rm -f "$display_file"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$display_file" \
    >"$build/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not start (see $build/xvfb.log)" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$display_file")

# One wineserver for every test program (about 0.1 s a start instead of about 3 s); its output
# must not hold the caller's pipes open.
started=$SECONDS
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
# Made once (about 10 s), then only started: its services and desktop begin here, with their
# output going nowhere; begun by a test program, they would keep ctest's pipes open.
timeout 300 wineboot -i >/dev/null 2>&1

cd "$build"
timeout 900 ctest --output-on-failure -j2 "$@"
echo "tests under Wine: $((SECONDS - started)) s"
