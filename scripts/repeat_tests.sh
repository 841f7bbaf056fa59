#!/usr/bin/env bash
# Runs the tests that wait, signal, kill or measure time again and again, on a quiet machine and
# under load, and counts per test how often each passed. A test of this kind that depends on the
# machine's speed shows here as a count below the number of runs.
#
#   scripts/repeat_tests.sh [-n RUNS] [-c idle|load|both] [-b BUILD_DIR] [-w WINDOWS_BUILD_DIR]
#                           [-R REGEX]
#
#   -n  runs of each test in each condition (default 20)
#   -c  idle, load or both (default both)
#   -b  the build directory with the Linux tests (default build)
#   -w  also the Windows tests of this kind, under Wine, from this build directory (made by
#       scripts/test_windows.sh); without it only the Linux tests run
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
windows_build=
filter=
while getopts "n:c:b:w:R:" option; do
    case $option in
    n) runs=$OPTARG ;;
    c) conditions=$OPTARG ;;
    b) build=$OPTARG ;;
    w) windows_build=$OPTARG ;;
    R) filter=$OPTARG ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
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
[ -z "$windows_build" ] || [ -d "$windows_build" ] ||
    { echo "no build directory $windows_build" >&2; exit 2; }

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
    'InterruptedWindow.ASignalClosesAMessageBoxAndTheWindowWithStatusFive'
    'InterruptedConsole.ASecondSignalEndsAtOnceWithItsReasonLine'
    'ServerMode.ConnectionThatCarriesNothingWhileTheServerAnswersEndsTheRun'
    'UpdateRun.LargePackageIsWrittenOutBetweenPumps'
    'UpdateRun.SignalWhileTheLedgerWaitsForAnotherConnectionLosesNothing'
    'UpdateRun.LedgerInUseAsThePackageCompletesIsSaidAndTheNextRunClearsIt'
    'PackageLedgerTest.LedgerInUseElsewhereIsLeftCompleteAndClearedByTheNextRun'
    'Window.IsOnTheScreenWhileTheChecksWaitForTheServer'
    'TransactionTest.LockTimeoutBoundsTheWaitForAnotherConnectionsRow'
    'GlobDbServer.ServerThatNeverAnswersFailsTheConnectionAfterTheTimeout'
    'BlobFilesTest.LargeFileIsOneCallWhileTheWindowAnswers'
    'DocumentsTest.LargeDocumentIsOneCallWhileTheWindowAnswers'
    'PumpThrottle.*'
    'IniFile.HugeFilesAreReadUpToTheLimitAndRefusedBeyondIt'
)
# The same under Wine: the whole updates that hold a row (a statement that times out, a kill
# while a statement waits), and the waits for a file another program holds.
windows_tests=(
    'windows.update_resume'
    'windows.update_embedded_resume'
    'windows.update_errors'
    'windows.update_embedded_errors'
    'WindowsFilesInUse.AHeldFileIsWaitedForUntilItIsReleased'
    'ArchiverAndProgramFiles.AFileHeldPastTheWaitFailsNamingItsHolder'
    'WindowsChildProcess.*'
)
# Each entry is "build directory<TAB>test name".
selected=()
for test in "${tests[@]}"; do
    selected+=("$build"$'\t'"$test")
done
if [ -n "$windows_build" ]; then
    for test in "${windows_tests[@]}"; do
        selected+=("$windows_build"$'\t'"$test")
    done
fi
tests=()
for entry in "${selected[@]}"; do
    if [ -z "$filter" ] || [[ ${entry#*$'\t'} =~ $filter ]]; then tests+=("$entry"); fi
done
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
# The Windows tests run in the Wine session of their build tree, as scripts/test_windows.sh
# runs them; no session when none of them is selected.
windows_selected=
for entry in "${tests[@]}"; do
    if [ -n "$windows_build" ] && [ "${entry%%$'\t'*}" = "$windows_build" ]; then
        windows_selected=1
    fi
done
if [ -n "$windows_selected" ]; then
    windows_build=$(cd "$windows_build" && pwd)
    source scripts/lib/wine.sh
    start_wine_session "$windows_build"
    trap 'stop_load; rm -f "$scratch/dsync"; stop_wine_session' EXIT
else
    trap 'stop_load; rm -f "$scratch/dsync"' EXIT
fi

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
    for entry in "${tests[@]}"; do
        dir=${entry%%$'\t'*}
        test=${entry#*$'\t'}
        key="$condition $test"
        passed[$key]=0
        failed[$key]=0
        for run in $(seq "$runs"); do
            log=$scratch/$condition.${test//[^A-Za-z0-9.]/_}.$run.log
            if QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -R "$(ctest_regex "$test")" \
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
