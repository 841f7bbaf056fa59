#!/usr/bin/env bash
# A whole update as an administrator runs it: the demo package (small scale) packed into a copy
# of the built updater, installed in console mode into a version-237 demo database, then the
# database checked with isql-fb.
#
#   update_test.sh embedded <bin>   the default local database lib.gdb beside the updater
#   update_test.sh server <bin>     TypeServer=1 against a private Firebird server on loopback
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

work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-$mode-test.XXXXXX")
server_dir=$work/server
cleanup() {
    # Stops only the server this test started (by its recorded PID), pass or fail.
    "$root/scripts/firebird_server.sh" stop "$server_dir" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE  # run the cleanup on signals too

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

# --- The package and the suite directory
suite=$work/suite
package=$work/package
mkdir -p "$suite" "$work/tmp"
"$bin/tessara-demo-package" --scale 0.01 --seed 77 --out "$package" >/dev/null
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$package" >/dev/null
cp "$bin/rar" "$suite/rar"

if [ "$mode" = server ]; then
    mkdir -p "$work/data"
    database=$work/data/lib.gdb
    # Made embedded before the server starts: the two must never hold the file at once.
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
    write_demo_ini "$suite" "localhost/$port" "$database"
    connection="localhost/$port:$database"
else
    database=$suite/lib.gdb
    create_demo_database "$database" 237
    write_demo_ini "$suite"
    connection=$database
fi

# --- The run; its own temp directory, since ctest may run the other mode at the same time
rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout" 2>"$work/stderr" || rc=$?
expect_eq "exit status" 0 "$rc"
expect_eq "last journal line" "Оновлення завершене успішно" "$(tail -n 1 "$work/stdout")"
grep -qx "238_RAR \[OK\]" "$work/stdout" || fail "no package line '238_RAR [OK]'"
grep -q "up.2026.05.03.lsql" "$work/stdout" || fail "the main script is not in the journal"
grep -q "up.99.238.lsql" "$work/stdout" || fail "the version script is not in the journal"
logs=$(find "$work/tmp/lib.kvr" -name '*.log' | wc -l)
expect_eq "update logs (failed statements or files)" 0 "$logs"

# --- The database, read back through the same connection the updater used
value() { demo_sql_values "$connection" "$1"; }
expect_eq "version" 238 "$(value "select data from versions")"
expect_eq "new articles" 77 "$(value "select count(*) from ARTICLE where id between 18542 and 18619 and id <> 18573")"
keywords=$(grep -c '^INSERT INTO ARTICLE_KEYWORD' "$package/up.2026.05.03.lsql" || true)
expect_eq "keywords" "$keywords" "$(value "select count(*) from ARTICLE_KEYWORD")"

# Titles arrive byte for byte in Windows-1251: the stored title appears verbatim in the script.
title=$(value "select name_u from ARTICLE where id = 18600")
[ ${#title} -gt 40 ] || fail "title of 18600 too short: '$title'"
LC_ALL=C grep -qF -- "(18600, " "$package/up.2026.05.03.lsql" || fail "18600 missing in the script"
LC_ALL=C grep -F -- "(18600, " "$package/up.2026.05.03.lsql" | LC_ALL=C grep -qF -- "'$title'" ||
    fail "name_u of 18600 differs from the script's bytes"

for id in 18542 18612 18619; do
    expect_eq "note_u length of $id" "$(stat -c %s "$package/$id.u")" \
        "$(value "select octet_length(note_u) from ARTICLE where id = $id")"
    expect_eq "note of $id (empty file, empty blob, not NULL)" 0 \
        "$(value "select octet_length(note) from ARTICLE where id = $id")"
done
expect_eq "documents stored" 77 "$(value "select count(*) from ARTICLE where note_u is not null")"
expect_eq "NOTE of INFO_DOC 10" "$(stat -c %s "$package/INFO_DOC.NOTE.ID 10.blo")" \
    "$(value "select octet_length(NOTE) from INFO_DOC where ID = 10")"
expect_eq "NOTE_U of INFO_DOC 10" "$(stat -c %s "$package/INFO_DOC.NOTE_U.ID 10.blo")" \
    "$(value "select octet_length(NOTE_U) from INFO_DOC where ID = 10")"
expect_eq "older article untouched" "<null>" "$(value "select note_u from ARTICLE where id = 18573")"

# --- A second start finds nothing to install and changes nothing.
rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout" 2>"$work/stderr" || rc=$?
expect_eq "exit status of a second run" 3 "$rc"
expect_eq "version after the second run" 238 "$(value "select data from versions")"

# --- Both runs are in the suite's run record, each with its outcome.
record=$suite/tessara-updater.log
expect_eq "runs recorded" 2 "$(grep -c '^=== .* console ' "$record")"
grep -q '\[outcome\] succeeded, exit status 0$' "$record" || fail "no outcome of the update in $record"
grep -q '\[outcome\] nothing to install, exit status 3$' "$record" ||
    fail "no outcome of the second run in $record"

echo "PASS ($mode)"
