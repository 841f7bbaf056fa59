#!/usr/bin/env bash
# Runs the tests that wait, signal, kill or measure time again and again, on a quiet machine and
# under load, and counts per test how often each passed. A test of this kind that depends on the
# machine's speed shows here as a count below the number of runs.
#
#   scripts/repeat_tests.sh [-n RUNS] [-c idle|load|both] [-b BUILD_DIR] [-R REGEX]
#
#   -n  runs of each test in each condition (default 20)
#   -c  idle, load or both (default both)
#   -b  the build directory with the Linux tests (default build)
#   -R  only the tests whose name matches REGEX (an extended regular expression)
#
# The load is two busy processes and a writer that writes to a scratch file synchronously
# (dd oflag=dsync), started by this script and stopped by their process ids when it ends. The
# tests run through ctest, one at a time. The exit status is 1 when any run failed. The logs of
# failed runs are kept in $TMPDIR (named in the report).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=20
conditions=both
build=build
filter=
while getopts "n:c:b:R:" option; do
    case $option in
    n) runs=$OPTARG ;;
    c) conditions=$OPTARG ;;
    b) build=$OPTARG ;;
    R) filter=$OPTARG ;;
    *) sed -n '2,17p' "$0" >&2; exit 2 ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "runs must be a positive number: $runs" >&2; exit 2; }
case $conditions in
idle) conditions=(idle) ;;
load) conditions=(load) ;;
both) conditions=(idle load) ;;
*) echo "condition must be idle, load or both: $conditions" >&2; exit 2 ;;
esac
[ -d "$build" ] || { echo "no build directory $build" >&2; exit 2; }

# The tests (ctest names) that hold a run at a step and release it, send signals, kill the
# updater, or bound a time that the product promises.
tests=(
    'ConsoleWindow.TheScriptInHandIsShownWhileItsStatementWaits'
    'Interruption.AKilledUpdateIsContinuedToTheStateOfAnUninterruptedOne'
    'Interruption.ASignalEndsTheRunSayingSoAndTheNextRunContinuesIt'
    'InterruptedWindow.ASignalClosesTheWaitingWindowWithStatusFive'
    'Console.SecondUpdaterOfTheSameSuiteRefusesAndTouchesNothing'
    'Console.UpdaterOfAnotherSuiteSharingTheTempDirectoryRefuses'
    'Window.AnswersWhileAStatementKeepsTheDatabaseBusy'
    'UpdateRun.RowLockedByAnotherConnectionFailsItsStatementAfterTheTimeout'
    'ServerMode.ServerThatStopsAnsweringEndsTheRunAndTheNextRunContinuesIt'
    'Handshakes/ServerSilence.*'
    'ScriptRunnerTest.PumpsAtMostEveryFiftyMillisecondsAndEndsExact'
    'ScriptRunnerTest.LostConnectionStopsTheScriptWithoutLoggingIt'
    'PackageLedgerTest.AnInterruptedScriptIsContinuedWithEveryStatementOnce'
    'ProgramFilesTest.SlowCopyPumpsTheWindowBetweenItsBlocks'
    'ChildProcess.*'
    'PosixChildProcess.*'
)
if [ -n "$filter" ]; then
    selected=()
    for test in "${tests[@]}"; do
        if [[ $test =~ $filter ]]; then selected+=("$test"); fi
    done
    tests=("${selected[@]}")
fi
[ ${#tests[@]} -gt 0 ] || { echo "no test matches $filter" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessara-repeat.XXXXXXXX")
load_pids=()

# Two busy processes and a synchronous writer, each the leader of a process group of its own
# (setsid), so that each is stopped with everything it started by its own id.
start_load() {
    setsid sh -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    load_pids+=($!)
    setsid sh -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    load_pids+=($!)
    setsid sh -c "while :; do dd if=/dev/zero of='$scratch/dsync' bs=64k count=256 \
oflag=dsync 2>/dev/null; done" </dev/null >/dev/null 2>&1 &
    load_pids+=($!)
}
stop_load() {
    local pid
    for pid in "${load_pids[@]}"; do
        kill -- "-$pid" 2>/dev/null || true
    done
    for pid in "${load_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    load_pids=()
    rm -f "$scratch/dsync"
}
trap 'stop_load; rm -f "$scratch/dsync"' EXIT

# A test name as an anchored ctest expression: the dots are literal, a trailing * stands for a
# group.
ctest_regex() {
    local name=${1//./\\.}
    name=${name%\*}
    if [[ $1 == *\* ]]; then echo "^$name"; else echo "^$name\$"; fi
}

declare -A passed failed
failures=0
report=()
started=$SECONDS
for condition in "${conditions[@]}"; do
    [ "$condition" = load ] && start_load
    for test in "${tests[@]}"; do
        key="$condition $test"
        passed[$key]=0
        failed[$key]=0
        for run in $(seq "$runs"); do
            log=$scratch/$condition.${test//[^A-Za-z0-9.]/_}.$run.log
            if QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" -R "$(ctest_regex "$test")" \
                --no-tests=error --output-on-failure >"$log" 2>&1; then
                passed[$key]=$((passed[$key] + 1))
                rm -f "$log"
            else
                failed[$key]=$((failed[$key] + 1))
                failures=$((failures + 1))
            fi
        done
        report+=("$(printf '%-5s %3d/%-3d %s' "$condition" "${passed[$key]}" "$runs" "$test")")
        echo "${report[-1]}"
    done
    [ "$condition" = load ] && stop_load
done

echo "== passed/runs per test, $((SECONDS - started)) s in all"
printf '%s\n' "${report[@]}"
if [ "$failures" -gt 0 ]; then
    echo "$failures failed runs; their logs: $scratch" >&2
    exit 1
fi
rm -rf "$scratch"
