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

source scripts/lib/wine.sh
trap stop_wine_session EXIT
trap 'exit 1' INT TERM HUP
started=$SECONDS
start_wine_session "$build"

cd "$build"
timeout 900 ctest --output-on-failure -j2 "$@"
echo "tests under Wine: $((SECONDS - started)) s"
