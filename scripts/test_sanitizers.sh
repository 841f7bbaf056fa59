#!/usr/bin/env bash
# Builds the Linux programs and tests with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/, and with ThreadSanitizer into build-tsan/, and runs the Linux tests under each. A
# report ends the program that made it, so its test fails. What lies outside the project (the
# Firebird client and engine, Qt's internals that the sanitizers cannot see into) is suppressed
# in tests/sanitizers/, each line with its reason.
#
#   scripts/test_sanitizers.sh [asan|tsan|both] [ctest arguments, e.g. -R Name]
#
# Without ctest arguments the whole-update scripts (integration.*) and the tests that kill or
# signal whole updaters (Interruption.*, InterruptedWindow.*, InterruptedConsole.*) are left out: they run the code
# that the suites run, through the same installers and driver, and take many minutes each under
# a sanitizer, which CI's time does not allow; name them (-R) to run them too.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
source scripts/lib/packages.sh
install_missing_packages
source scripts/lib/compiler_cache.sh

which=${1:-both}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- -E '^(integration\.|Interruption\.|InterruptedWindow\.|InterruptedConsole\.)'

suppressions=$checkout/tests/sanitizers

run_under() {
    local name=$1 sanitize=$2 build=$checkout/build-$1 started=$SECONDS
    shift 2
    # -O1: the sanitizers' own advice, and a build that takes less time than -O2. Warnings are
    # not errors here: with the sanitizers' instrumentation GCC's flow analysis warns about the
    # standard library's own code (std::regex's std::function "may be used uninitialized"); the
    # build of scripts/test.sh keeps every warning an error.
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
        -DTESSARA_WARNINGS_AS_ERRORS=OFF -DTESSARA_SANITIZE="$sanitize" >/dev/null
    cmake --build "$build" -j"$(nproc)"
    echo "$name build: $((SECONDS - started)) s"
    started=$SECONDS
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@")
    echo "$name tests: $((SECONDS - started)) s"
}

# No leak detection by default: LeakSanitizer stops every thread with ptrace when the program
# ends, which now and then fails on a loaded machine ("LeakSanitizer has encountered a fatal
# error") and would fail a test that passed. ASAN_LEAKS=1 turns it on, with tests/sanitizers/lsan.supp.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=${ASAN_LEAKS:-0}:strict_string_checks=1:check_initialization_order=1
export LSAN_OPTIONS=suppressions=$suppressions/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$suppressions/ubsan.supp
# No deadlock detection: the embedded engine holds more locks at once than its detector can
# follow (it stops the program with "CHECK failed: n_recursive_locks"), and what it would find
# there is the engine's own lock order.
export TSAN_OPTIONS=halt_on_error=1:detect_deadlocks=0:suppressions=$suppressions/tsan.supp:print_suppressions=0

case $which in
    asan) run_under asan address,undefined "$@" ;;
    tsan) run_under tsan thread "$@" ;;
    both)
        run_under asan address,undefined "$@"
        run_under tsan thread "$@"
        ;;
    *)
        echo "usage: $0 [asan|tsan|both] [ctest arguments]" >&2
        exit 2
        ;;
esac
