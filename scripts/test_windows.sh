#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests with mingw-w64 into build-windows/ (a
# warning fails the build) and runs the tests under Wine: a Wine prefix of the build tree's own,
# one wineserver kept running for the whole run, and a private Xvfb display for the window tests.
#
# The whole update under Wine runs against a private Linux Firebird server with a Windows
# Firebird client built for the tests (scripts/fbclient/build.sh, cached outside the clone), and
# with the Windows default, a local database opened by Firebird's embedded engine built for the
# tests beside that client (scripts/fbengine/build.sh, cached the same way); each is compared
# with the Linux updater's run: the Linux programs it needs are built into build/ first.
#
#   scripts/test_windows.sh [ctest arguments, e.g. -R Win32Form]
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
source scripts/lib/packages.sh
install_missing_packages "${WINDOWS_PACKAGES[@]}"
source scripts/lib/compiler_cache.sh

started=$SECONDS
fbclient=$(scripts/fbclient/build.sh)
echo "test Firebird client: $fbclient ($((SECONDS - started)) s)"
started=$SECONDS
engine=$(scripts/fbengine/build.sh)
echo "test Firebird engine: $engine ($((SECONDS - started)) s)"

# The Linux side of the comparison (scripts/test.sh has built all of build/ already).
started=$SECONDS
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build -j"$(nproc)" --target tessara-updater rar tessara-pack tessara-demo-package \
    database_dump
echo "Linux programs: $((SECONDS - started)) s"

build=$checkout/build-windows
started=$SECONDS
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARA_WARNINGS_AS_ERRORS=ON \
    -DTESSARA_TEST_FBCLIENT="$fbclient" -DTESSARA_TEST_ENGINE="$engine" -DTESSARA_LINUX_BIN="$checkout/build/bin" >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "cross-build: $((SECONDS - started)) s"

source scripts/lib/wine.sh
trap stop_wine_session EXIT
trap 'exit 1' INT TERM HUP
started=$SECONDS
start_wine_session "$build"

cd "$build"
timeout 1500 ctest --output-on-failure -j2 "$@"
echo "tests under Wine: $((SECONDS - started)) s"
