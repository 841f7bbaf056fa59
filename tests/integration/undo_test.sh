#!/usr/bin/env bash
# Look before, undo after, as an administrator runs them with the built programs: --plan changes
# nothing and counts what the run then does, a run takes a snapshot, --undo brings the database
# and the program files back, the update installs again; a run killed in its statement pass is
# undone too, and so is an undo killed part way when run again.
#
#   undo_test.sh embedded <bin>   the default local database lib.gdb beside the updater
#   undo_test.sh server <bin>     TypeServer=1 against a private Firebird server on loopback
set -euo pipefail

if [ $# -ne 2 ] || { [ "$1" != embedded ] && [ "$1" != server ]; }; then
    echo "usage: $0 embedded|server <bin>" >&2
    exit 2
fi
mode=$1
bin=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env

work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-undo-$mode-test.XXXXXX")
server_dir=$work/server
cleanup() {
    "$root/scripts/firebird_server.sh" stop "$server_dir" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

fail() {
    echo "FAIL ($mode): $*" >&2
    for f in "$work/stdout" "$work/stderr"; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}
expect_eq() {  # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

suite=$work/suite
package=$work/package
mkdir -p "$suite/Reports" "$work/tmp"
"$bin/tessara-demo-package" --scale 0.01 --seed 77 --program-files --out "$package" >/dev/null
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$package" >/dev/null
cp "$bin/rar" "$suite/rar"
# The suite's own older program and template: the update replaces both.
printf 'old program' >"$suite/tessara.exe"
printf 'old template' >"$suite/Reports/list.fr3"

if [ "$mode" = server ]; then
    mkdir -p "$work/data"
    database=$work/data/lib.gdb
    create_demo_database "$database" 237
    started=
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 40000))
        if "$root/scripts/firebird_server.sh" start "$server_dir" "$port" 2>"$work/server.err"; then
            started=1
            break
        fi
    done
    [ -n "$started" ] || fail "the private server did not start: $(cat "$work/server.err")"
    server=localhost/$port
    write_demo_ini "$suite" "$server" "$database"
    at() { echo "$server:$1"; }
else
    database=$suite/lib.gdb
    create_demo_database "$database" 237
    write_demo_ini "$suite"
    at() { echo "$1"; }
fi

# A process that uses the embedded engine must not be killed: the engine's shared memory in the
# lock directory (the user mapping's mutex, shared by every embedded process of the machine) may
# be held then, and every later process on the machine waits for it for ever. The embedded mode
# ends a process with SIGTERM (the updater's own stop at the next step), the server mode with
# SIGKILL (the server holds the engine).
if [ "$mode" = server ]; then kill_signal=KILL; else kill_signal=TERM; fi

updater() {  # runs the updater with the arguments; its status in $rc
    rc=0
    TMPDIR=$work/tmp "$suite/tessara-updater" "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
}
dump() { "$bin/database_dump" "$(at "$1")"; }
# The suite's files as the administrator sees them: the record, the snapshots and the databases
# (compared by their content) left out.
listing() {
    (cd "$suite" && find . -path ./tessara-updater-snapshots -prune -o -type f \
        ! -name tessara-updater.log ! -name 'tessara-updater.lock' ! -name '*.gdb' \
        ! -name '*.fbk' -print0 | sort -z |
        xargs -0 sha256sum)
}
configured_database() {
    sed -n 's/^PathBaseGDB=\(.*\)\r\{0,1\}$/\1/p' "$suite/lib.ini" | tr -d '\r'
}
current() { local d; d=$(configured_database); echo "${d:-$suite/lib.gdb}"; }

dump "$database" >"$work/before.dump"
listing >"$work/before.listing"
ini_before=$(sha256sum <"$suite/lib.ini")

# --- --plan: the packages and counts, and nothing changed
updater --plan
expect_eq "exit status of --plan" 0 "$rc"
grep -q "^Пакет 238: .* SHA-256 [0-9a-f]\{64\} перевірено$" "$work/stdout" || fail "no package line"
grep -q "^  замінить tessara.exe$" "$work/stdout" || fail "tessara.exe not named as replaced"
grep -q "^  замінить Reports/list.fr3$" "$work/stdout" || fail "list.fr3 not named as replaced"
planned=$(sed -n 's/^  скрипт up.2026.05.03.lsql: інструкцій \([0-9]*\)$/\1/p' "$work/stdout")
[ -n "$planned" ] || fail "no statement count of the main script"
# Every attachment writes the database's header page (its attachment and transaction counters),
# so the file's digest changes with any look at it: its whole content is compared instead.
expect_eq "database after --plan" "$(cat "$work/before.dump")" "$(dump "$database")"
expect_eq "suite after --plan" "$(cat "$work/before.listing")" "$(listing)"
expect_eq "temp directory after --plan" "" "$(ls -A "$work/tmp" | grep -v '^lib.kvr' || true)"

# --- The run: a snapshot first, then the package
updater --console
expect_eq "exit status of the run" 0 "$rc"
grep -q "^Знімок бази даних (версія 237): .*\.tessara-snapshot\.fbk" "$work/stdout" ||
    fail "no snapshot line"
grep -qx "Скасувати оновлення: tessara-updater --undo" "$work/stdout" || fail "no undo hint"
# The ledger's mark of every statement is the run's count: one per executed statement.
inserts=$(grep -c '^INSERT INTO ARTICLE_KEYWORD' "$package/up.2026.05.03.lsql" || true)
expect_eq "keywords installed" "$inserts" \
    "$(demo_sql_values "$(at "$database")" "select count(*) from ARTICLE_KEYWORD")"
[ "$planned" -ge "$inserts" ] || fail "planned $planned statements, fewer than $inserts inserts"
expect_eq "planned statements" "$(grep -c ';[[:space:]]*$' "$package/up.2026.05.03.lsql")" "$planned"
[ "$(cat "$suite/tessara.exe")" != "old program" ] || fail "the program was not replaced"
if [ "$mode" = embedded ]; then
    ls "$suite"/lib.v237.*.tessara-snapshot.fbk >/dev/null || fail "no backup beside the database"
else
    ls "$work/data"/lib.v237.*.tessara-snapshot.fbk >/dev/null || fail "no backup beside the database"
fi

# --- The undo: the database and the files as before the run, the undone database kept
updater --console --undo
expect_eq "exit status of --undo" 0 "$rc"
expect_eq "last line of --undo" "Оновлення скасовано" "$(tail -n 1 "$work/stdout")"
grep -qx "Версія бази даних: 237" "$work/stdout" || fail "the version read back is not 237"
restored=$(configured_database)
[ "$restored" != "$database" ] && [ -n "$restored" ] || fail "lib.ini names no restored database"
expect_eq "restored database" "$(cat "$work/before.dump")" "$(dump "$restored")"
expect_eq "suite's files after --undo" "$(cat "$work/before.listing" | grep -v ' ./lib.ini$')" \
    "$(listing | grep -v ' ./lib.ini$')"
expect_eq "undone database kept" 238 \
    "$(demo_sql_values "$(at "$database")" "select data from versions")"
grep -q "збережено: $database\. " "$work/stdout" || fail "the kept database is not named"

updater --console --undo
expect_eq "exit status of a second --undo" 3 "$rc"

# --- Installed again after the undo, then undone once more with an undo killed part way
updater --console
expect_eq "exit status of the run after the undo" 0 "$rc"
expect_eq "version after the second run" 238 \
    "$(demo_sql_values "$(at "$restored")" "select data from versions")"
# The undo is stopped as it reaches its restore (held), then killed there.
rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console --undo >"$work/stdout" 2>"$work/stderr" &
undo_pid=$!
for _ in $(seq 1 2000); do
    grep -q "^Відновлення бази даних зі знімка" "$work/stdout" 2>/dev/null && break
    kill -0 "$undo_pid" 2>/dev/null || break
    read -r -t 0.05 <> <(:) || true
done
kill -"$kill_signal" "$undo_pid" 2>/dev/null || true
wait "$undo_pid" || true
expect_eq "database after the killed undo" "$restored" "$(configured_database)"
updater --console --undo
expect_eq "exit status of the undo run again" 0 "$rc"
expect_eq "database after the finished undo" "$(cat "$work/before.dump")" \
    "$(dump "$(configured_database)")"

# --- A run killed in its statement pass: --plan names the package and where it goes on, the
# rerun continues there without a snapshot of its own, and the undo goes back to the state
# before the killed run
updater --console
expect_eq "exit status of the third run" 0 "$rc"
base=$(current)
dump "$base" >"$work/before3.dump"
listing | grep -v ' ./lib.ini$' >"$work/before3.listing"
updater --console --undo  # back to 237, then the run that is killed
expect_eq "exit status of the undo before the killed run" 0 "$rc"
base=$(current)
dump "$base" >"$work/before4.dump"
listing | grep -v ' ./lib.ini$' >"$work/before4.listing"
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout" 2>"$work/stderr" &
run_pid=$!
for _ in $(seq 1 2000); do
    grep -q "up.2026.05.03.lsql" "$work/stdout" 2>/dev/null && break
    kill -0 "$run_pid" 2>/dev/null || break
    read -r -t 0.05 <> <(:) || true
done
grep -q "up.2026.05.03.lsql" "$work/stdout" || fail "the run did not reach its statement pass"
kill -"$kill_signal" "$run_pid" 2>/dev/null || true
wait "$run_pid" || true
updater --plan
expect_eq "exit status of --plan after the kill" 0 "$rc"
grep -q "Пакет 238 встановлено не до кінця: його буде продовжено" "$work/stdout" ||
    fail "--plan after the kill does not name the waiting package"
grep -q "^Перерваний пакет 238 чекає продовження (SHA-256 [0-9a-f]\{64\})$" "$work/stdout" ||
    fail "--plan after the kill does not name the waiting package's ledger"
grep -qx "Знімок не потрібен: продовжується перерваний пакет" "$work/stdout" ||
    fail "--plan after the kill would take a snapshot"
# Where the plan says the next run goes on is where it does go on.
resume=$(sed -n 's/^  скрипт \(.*\): інструкцій [0-9]*, виконано [0-9]*.*; продовження з інструкції \([0-9]*\)$/\1 \2/p' \
    "$work/stdout")
[ -n "$resume" ] || fail "--plan after the kill does not say where the run goes on"
resume_script=${resume% *}
resume_at=${resume#* }
updater --console
expect_eq "exit status of the run that continues" 0 "$rc"
if [ "$resume_at" -gt 1 ]; then
    grep -A1 -x "$resume_script" "$work/stdout" | grep -qx "Продовження з інструкції $resume_at" ||
        fail "the plan said $resume_script from $resume_at, the run went on elsewhere"
fi
grep -q "^Знімок бази даних" "$work/stdout" && fail "the run that continues took a snapshot"
updater --console --undo
expect_eq "exit status of the undo after the kill" 0 "$rc"
expect_eq "database after undoing the killed run" "$(cat "$work/before4.dump")" \
    "$(dump "$(configured_database)")"
expect_eq "suite's files after undoing the killed run" "$(cat "$work/before4.listing")" \
    "$(listing | grep -v ' ./lib.ini$')"

echo "PASS ($mode)"
