#!/usr/bin/env bash
# An update through a private Firebird server that is stopped in the middle of the statement
# pass and started again: the interrupted run fails and says why, the next run continues the
# package, and in the end every statement has taken effect once. The test holds the run in the
# middle of its long script (a row that its own connection holds, which a statement there
# changes) and kills the server while that statement waits.
#
#   resume_server_test.sh <bin>
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 <bin>" >&2; exit 2; }
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env

work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-resume-test.XXXXXX")
server_dir=$work/server
holder=
updater=
cleanup() {
    if [ -n "$updater" ]; then kill -KILL "$updater" 2>/dev/null || true; fi
    if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi
    "$root/scripts/firebird_server.sh" stop "$server_dir" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/stdout* "$work"/stderr*; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}
expect_eq() { [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"; }

# --- The package: the demo package and a long script of its own, into a table without a key
# that the script creates first, so that a statement applied twice shows as a second row. After
# the row `held` it changes the row of HOLD_ROWS that the test holds.
rows=2500
held=1000
package=$work/package
"$bin/tessara-demo-package" --scale 0.01 --seed 5 --out "$package" >/dev/null
{
    printf 'create table LOAD_ROWS (N integer);\r\n'
    for ((n = 1; n <= rows; n++)); do
        printf 'insert into LOAD_ROWS values (%d);\r\n' "$n"
        if [ "$n" -eq "$held" ]; then printf 'update HOLD_ROWS set N = N + 1 where ID = 1;\r\n'; fi
    done
} >"$package/up.2026.05.04.lsql"

suite=$work/suite
mkdir -p "$suite" "$work/tmp" "$work/data"
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$package" >/dev/null
cp "$bin/rar" "$suite/rar"
database=$work/data/lib.gdb
create_demo_database "$database" 237  # embedded, before the server holds the file
printf '%s\n' 'create table HOLD_ROWS (ID integer not null primary key, N integer);' \
    'insert into HOLD_ROWS values (1, 0);' 'commit;' | demo_isql "$database" >/dev/null

start_server() {
    "$root/scripts/firebird_server.sh" start "$server_dir" "$port" 2>"$work/server.err"
}
started=
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    if start_server; then started=1; break; fi
done
[ -n "$started" ] || fail "the private server did not start: $(cat "$work/server.err")"
write_demo_ini "$suite" "localhost/$port" "$database"

connection=localhost/$port:$database
server_sql() { demo_sql_values "$connection" "$1"; }

# --- The row held: an isql session, fed through a FIFO that the test keeps open, changes it in a
# transaction that stays open. Held once a transaction that must not wait meets the lock.
mkfifo "$work/holder.in"
isql-fb -q -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" "$connection" \
    <"$work/holder.in" >"$work/holder.out" 2>&1 &
holder=$!
exec 7>"$work/holder.in"
printf 'set transaction wait;\nupdate HOLD_ROWS set N = 0 where ID = 1;\n' >&7
held_now=
for _ in $(seq 600); do
    probe=$(printf 'set transaction no wait;\nupdate HOLD_ROWS set N = 0 where ID = 1;\nrollback;\n' |
        isql-fb -q -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" "$connection" 2>&1) || true
    if grep -qE 'update conflicts|lock conflict' <<<"$probe"; then
        held_now=1
        break
    fi
    sleep 0.05
done
[ -n "$held_now" ] || fail "the row of HOLD_ROWS is not held"

# --- The first run: the server is killed while the statement on the held row waits.
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout1" 2>"$work/stderr1" &
updater=$!
waiting=
for _ in $(seq 1200); do
    kill -0 "$updater" 2>/dev/null || break
    if [ "$(server_sql "select count(*) from MON\$STATEMENTS where MON\$STATE = 1 and \
MON\$ATTACHMENT_ID <> CURRENT_CONNECTION and MON\$SQL_TEXT containing 'HOLD_ROWS'")" = 1 ]; then
        waiting=1
        break
    fi
    sleep 0.05
done
[ -n "$waiting" ] || fail "the run never waited for the held row"
# The journal shows the script in hand while its statement waits.
expect_eq "last line while the statement waits" "up.2026.05.04.lsql" "$(tail -n 1 "$work/stdout1")"
# Killed, not shut down: a shutdown ends the holder's connection too, and the run could go on
# before the server is gone.
server_pid=$(cat "$server_dir/server.pid")
kill -KILL "$server_pid"
for _ in $(seq 600); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
done
"$root/scripts/firebird_server.sh" stop "$server_dir"
exec 7>&-
wait "$holder" || true
holder=
rc=0
wait "$updater" || rc=$?
updater=
expect_eq "exit status of the interrupted run" 1 "$rc"
grep -q "Оновлення завершене успішно" "$work/stdout1" && fail "the interrupted run claims success"
[ -s "$work/stderr1" ] || fail "the interrupted run said nothing about the lost server"
expect_eq "rows applied before the server stopped" "$held" \
    "$(demo_sql_values "$database" "select count(*) from LOAD_ROWS")"

# --- The server is back: the next run continues the package.
start_server || fail "the private server did not start again: $(cat "$work/server.err")"
rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout2" 2>"$work/stderr2" || rc=$?
expect_eq "exit status of the next run" 0 "$rc"
grep -qx "Пакет 238 встановлено не до кінця: його буде продовжено" "$work/stdout2" ||
    fail "the next run did not say that it continues package 238"
expect_eq "last journal line" "Оновлення завершене успішно" "$(tail -n 1 "$work/stdout2")"
"$root/scripts/firebird_server.sh" stop "$server_dir"

# --- Every statement once, and nothing of the updater's own left in the database.
value() { demo_sql_values "$database" "$1"; }
expect_eq "rows" "$rows" "$(value "select count(*) from LOAD_ROWS")"
expect_eq "distinct rows" "$rows" "$(value "select count(distinct N) from LOAD_ROWS")"
expect_eq "the held row, changed once" 1 "$(value "select N from HOLD_ROWS")"
expect_eq "version" 238 "$(value "select data from versions")"
expect_eq "documents stored" 77 "$(value "select count(*) from ARTICLE where note_u is not null")"
expect_eq "the updater's ledger" 0 \
    "$(value "select count(*) from RDB\$RELATIONS where RDB\$RELATION_NAME = 'UPD\$LEDGER'")"
echo "PASS"
