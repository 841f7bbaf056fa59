#!/usr/bin/env bash
# Installs what is missing (when run as root), checks the formatting, builds everything in build/
# (a warning fails the build) and runs every test; then builds the Linux tests with the
# sanitizers and runs them again under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer (scripts/test_sanitizers.sh); then builds the test Firebird client for Windows
# and its embedded engine (once per machine, cached outside the clone), cross-builds the Windows
# programs into build-windows/ and runs their tests under Wine, the whole update against a
# private server and with the embedded engine included (scripts/test_windows.sh). Compiles
# through ccache, one cache per machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
install_missing_packages

scripts/check_format.sh
source scripts/lib/compiler_cache.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARA_WARNINGS_AS_ERRORS=ON
cmake --build build -j"$(nproc)"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)

scripts/test_sanitizers.sh asan
scripts/test_sanitizers.sh tsan
scripts/test_windows.sh

# CI: the tests that wait, signal, kill or measure time once more, under load (two busy
# processes and a synchronous disk writer), so that one that depends on the machine shows; the
# Windows ones under Wine too.
if [ "${CI:-}" = true ]; then
    scripts/repeat_tests.sh -n 1 -c load -w build-windows
fi
