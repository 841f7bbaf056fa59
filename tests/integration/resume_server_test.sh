#!/usr/bin/env bash
# An update through a private Firebird server that is stopped in the middle of the statement
# pass and started again: the interrupted run fails and says why, the next run continues the
# package, and in the end every statement has taken effect once.
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
cleanup() {
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
# that the script creates first, so that a statement applied twice shows as a second row.
rows=2500
package=$work/package
"$bin/tessara-demo-package" --scale 0.01 --seed 5 --out "$package" >/dev/null
{
    printf 'create table LOAD_ROWS (N integer);\r\n'
    for ((n = 1; n <= rows; n++)); do printf 'insert into LOAD_ROWS values (%d);\r\n' "$n"; done
} >"$package/up.2026.05.04.lsql"

suite=$work/suite
mkdir -p "$suite" "$work/tmp" "$work/data"
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$package" >/dev/null
cp "$bin/rar" "$suite/rar"
database=$work/data/lib.gdb
create_demo_database "$database" 237  # embedded, before the server holds the file

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

# --- The first run: the server stops while the long script runs.
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout1" 2>"$work/stderr1" &
updater=$!
for _ in $(seq 600); do
    grep -qx "up.2026.05.04.lsql" "$work/stdout1" && break
    kill -0 "$updater" 2>/dev/null || break
    sleep 0.05
done
grep -qx "up.2026.05.04.lsql" "$work/stdout1" || fail "the long script did not begin"
sleep 0.5
"$root/scripts/firebird_server.sh" stop "$server_dir"
rc=0
wait "$updater" || rc=$?
expect_eq "exit status of the interrupted run" 1 "$rc"
grep -q "Оновлення завершене успішно" "$work/stdout1" && fail "the interrupted run claims success"
[ -s "$work/stderr1" ] || fail "the interrupted run said nothing about the lost server"
applied=$(demo_sql_values "$database" "select count(*) from LOAD_ROWS")
echo "rows applied before the server stopped: $applied of $rows"

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
expect_eq "version" 238 "$(value "select data from versions")"
expect_eq "documents stored" 77 "$(value "select count(*) from ARTICLE where note_u is not null")"
expect_eq "the updater's ledger" 0 \
    "$(value "select count(*) from RDB\$RELATIONS where RDB\$RELATION_NAME = 'UPD\$LEDGER'")"
echo "PASS"
