#!/usr/bin/env bash
# Whole updates by the Windows updater under Wine against a private Linux Firebird 3 server: the
# packed tessara-updater.exe in a suite directory with a Cyrillic name, lib.ini in Windows-1251
# with TypeServer=1 and a Cyrillic database path, the test fbclient.dll beside it, and Wine's
# code pages those of a Ukrainian Windows (ANSI 1251, OEM 866). The package has every kind of
# item: statements in Windows-1251, SET TERM blocks, a statement the server refuses (a Cyrillic
# column name), documents, blob files, a program file and a template.
#
#   update_test.sh compare|resume|errors|undo <windows bin> <linux bin> <fbclient.dll>
#   update_test.sh embedded-compare|embedded-resume|embedded-errors <windows bin> <linux bin>
#                  <engine folder>
#
# compare  the Linux updater installs the package into one database, the Windows updater into
#          two others of the same kind (console mode, and the window under Xvfb); every table
#          (blobs by digest), procedure, trigger and generator, the suite's files, the update
#          logs, the journals and the run records are compared
# resume   the Windows updater killed in the statement pass (a second one refused meanwhile),
#          killed again in the document pass, then run to its end: the Linux run's end state
# errors   a server error with a Cyrillic path, and the client's own error naming a Cyrillic
#          host in the ANSI code page, reach standard error, the window's error box and the run
#          record as UTF-8; a package that leaves the version below its number: exit status 1
# undo     --plan names what the run then does and changes nothing, the run takes a snapshot
#          (the backup on the server, beside the database), --console --undo restores it into a
#          new database on the server and names that in lib.ini in Windows-1251; the database
#          and the suite's files are back as before the run, the undone database is kept; run
#          again, and undone once more in the window (--undo without --console)
#
# The embedded- cases run the same way with the Windows default, TypeServer=0 and a local
# database opened by Firebird's embedded engine: the engine folder of scripts/fbengine/build.sh
# (fbclient.dll, the engine, ICU, intl/) is laid out beside the updater as a Windows suite has
# it, and the Linux updater runs with its own embedded engine. embedded-errors: a second program
# holding the database (the suite's tessara.exe, then another one) and each missing engine file.
#
# Runs in the Wine session of scripts/test_windows.sh (WINEPREFIX, DISPLAY).
set -euo pipefail

if [ $# -ne 4 ] || [[ ! $1 =~ ^((embedded-)?(compare|resume|errors)|undo)$ ]]; then
    echo "usage: $0 [embedded-]compare|resume|errors|undo <windows bin> <linux bin>" \
        "<fbclient.dll | engine folder>" >&2
    exit 2
fi
case=$1
winbin=$(cd "$2" && pwd)
linbin=$(cd "$3" && pwd)
if [[ $case == embedded-* ]]; then
    embedded=1
    engine=$(cd "$4" && pwd)
    fbclient=$engine/fbclient.dll
else
    embedded=
    fbclient=$4
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/demo_suite.sh"
: "${WINEPREFIX:?run in the Wine session of scripts/test_windows.sh}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-wine-$case.XXXXXX")
# The Linux engine's lock files of this test alone: a process that another test stopped or
# killed inside the machine's shared lock directory cannot hold this one back.
export FIREBIRD_LOCK=$work/firebird-lock
mkdir -p "$FIREBIRD_LOCK"
server_dir=$work/server
holder_pid=
updater_pid=
cleanup() {
    # Only what this test started, by PID; a program that has ended already is no error.
    if [ -n "$updater_pid" ]; then kill -KILL "$updater_pid" 2>/dev/null || true; fi
    if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi
    "$root/scripts/firebird_server.sh" stop "$server_dir" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

fail() {
    echo "FAIL ($case): $*" >&2
    for f in "$work"/out/*; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}
expect_eq() { [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"; }
expect_line() { grep -qxF -- "$2" "$3" || fail "$1: no line '$2' in $3"; }
mkdir -p "$work/out"

for program in tessara-updater tessara-pack rar tessara-demo-package database_dump; do
    [ -x "$linbin/$program" ] || fail "$linbin/$program is missing (scripts/test_windows.sh builds it)"
done
[ -f "$fbclient" ] || fail "no test Firebird client $fbclient (scripts/fbclient/build.sh)"
if [ -n "$embedded" ]; then
    [ -f "$engine/plugins/engine12.dll" ] || fail "no engine in $engine (scripts/fbengine/build.sh)"
fi

# --- Wine as on a Ukrainian Windows: a uk_UA locale of the test's own gives Wine the ANSI code
# page 1251, the OEM code page 866 and its Ukrainian system texts.
mkdir -p "$work/locale"
localedef -i uk_UA -f UTF-8 "$work/locale/uk_UA.UTF-8" 2>/dev/null ||
    [ -f "$work/locale/uk_UA.UTF-8/LC_CTYPE" ] || fail "localedef could not make uk_UA.UTF-8"
# The Windows engine would take the Linux engine's FIREBIRD and FIREBIRD_LOCK for its own.
wine_env=(env -u FIREBIRD -u FIREBIRD_LOCK LOCPATH="$work/locale" LC_ALL=uk_UA.UTF-8
    LANG=uk_UA.UTF-8)
wine_uk() { "${wine_env[@]}" wine "$@"; }
# Starts a Windows program in the background; `name` names its outputs. updater_pid is then the
# program's own Unix process, to be killed as Windows would end it at a power cut.
start_updater() {
    local name=$1
    shift
    "${wine_env[@]}" wine "$@" >"$work/out/$name.stdout" 2>"$work/out/$name.stderr" &
    updater_pid=$!
}
# A path converted by winepath (-w to Windows, -u to Unix). Now and then, on a loaded machine,
# Wine does not start winepath.exe and its message comes out instead of a path: that is tried
# again, so that no test goes on with a message in the place of a path.
convert_path() {
    local direction=$1 path=$2 converted _
    for _ in 1 2 3 4 5; do
        converted=$(winepath "$direction" "$path" 2>/dev/null) || converted=
        if { [ "$direction" = -w ] && [[ $converted =~ ^[A-Za-z]:\\ ]]; } ||
            { [ "$direction" = -u ] && [[ $converted == /* ]]; }; then
            printf '%s\n' "$converted"
            return 0
        fi
    done
    fail "winepath $direction $path gave: $converted"
}
windows_path() { convert_path -w "$1"; }
# Every updater of the prefix works in the same lib.kvr under the prefix's temporary directory.
wine_work=$(convert_path -u "$(wine_uk cmd /c echo %TEMP% | tr -d '\r\n')")/lib.kvr
[[ $wine_work == "$WINEPREFIX"/* ]] || fail "no temporary directory in the Wine prefix: $wine_work"

# --- The package: the demo package (small scale) with its program file and template, and a
# second script with procedures and triggers in SET TERM blocks, a generator, a statement the
# server refuses, and a change of an older article. 18573 is an older article too: its ".u"
# document is stored between those of the new articles.
package=$work/package
"$linbin/tessara-demo-package" --scale 0.01 --seed 238 --program-files --out "$package" >/dev/null
iconv -f UTF-8 -t CP1251 <<'EOF' | sed 's/$/\r/' >"$package/up.2026.05.04.lsql"
create table CHANGE_LOG (ID integer not null primary key, NOTE varchar(200) character set win1251);
create generator GEN_CHANGE_LOG;
commit;
set term ^ ;
create procedure ADD_CHANGE (NOTE varchar(200) character set win1251)
as
begin
  insert into CHANGE_LOG values (gen_id(GEN_CHANGE_LOG, 1), :NOTE);
end^
create trigger ARTICLE_EXT_CHANGED for ARTICLE after update
as
begin
  if (new.EXT is distinct from old.EXT) then
    execute procedure ADD_CHANGE('Змінено формат статті ' || new.ID);
end^
set term ; ^
execute procedure ADD_CHANGE('Пакет 238: журнал змін');
update RUBRIC set "НАЗВА" = 'Податки і збори' where ID = 1;
update ARTICLE set EXT = 'docx' where ID = 18540;
execute procedure ADD_CHANGE('Пакет 238: кінець');
EOF
head -c 20000 /dev/urandom >"$package/18573.u"

# --- The server and the databases (made embedded, before the server holds them)
mkdir -p "$work/linux-data" "$work/wine-data" "$work/window-data" "$work/hold-data"
database_of() { echo "$work/$1-data/бібліотека.gdb"; }
make_databases() {
    local kind
    for kind in "$@"; do
        create_demo_database "$(database_of "$kind")" 237 || fail "cannot create the $kind database"
    done
}
start_server() {
    local _
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 40000))
        "$root/scripts/firebird_server.sh" start "$server_dir" "$port" 2>"$work/server.err" &&
            return 0
    done
    fail "the private server did not start: $(cat "$work/server.err")"
}
# The Linux side reaches a database through the private server, or with its own embedded engine
# in the embedded cases: only once no Windows program has it open (the two engines' locks do not
# see each other).
connection() {
    if [ -n "$embedded" ] && [ "$1" != hold ]; then
        database_of "$1"
    else
        echo "127.0.0.1/$port:$(database_of "$1")"
    fi
}
# The database path in a Windows suite's lib.ini, as the Windows updater's journal shows it.
wine_database() {
    if [ -n "$embedded" ]; then
        windows_path "$(database_of "$1")"
    else
        database_of "$1"
    fi
}
sql() { demo_sql_values "$(connection "$1")" "$2"; }
dump() { "$linbin/database_dump" "$(connection "$1")" >"$work/$1.dump" || fail "cannot dump $1"; }

# --- Suites
# The Linux suite: the packed Linux updater, rar, lib.ini in UTF-8.
linux_suite=$work/linux/Тессара
make_linux_suite() {
    mkdir -p "$linux_suite/Reports" "$work/linux-tmp"
    "$linbin/tessara-pack" --updater "$linbin/tessara-updater" --out "$linux_suite/tessara-updater" \
        "238=$package" >/dev/null
    cp "$linbin/rar" "$linux_suite/rar"
    if [ -n "$embedded" ]; then
        printf '[Common]\r\nTypeServer=0\r\nPathBaseGDB=%s\r\n' "$(database_of linux)" \
            >"$linux_suite/lib.ini"
    else
        write_demo_ini "$linux_suite" "127.0.0.1/$port" "$(database_of linux)"
    fi
}
run_linux() {
    local rc _
    # The Linux updater looks for the suite's program among all processes of the machine (under
    # Wine it runs as tessara.exe): a test elsewhere that runs a program of that name for a
    # moment holds this run back, which then tries again.
    for _ in $(seq 30); do
        rc=0
        TMPDIR=$work/linux-tmp "$linux_suite/tessara-updater" --console \
            >"$work/out/linux.stdout" 2>"$work/out/linux.stderr" || rc=$?
        if [ "$rc" -ne 2 ] || ! grep -q '^ПК Тессара запущена' "$work/out/linux.stderr"; then
            break
        fi
        sleep 1
    done
    expect_eq "exit status of the Linux run" 4 "$rc"
    cp -r "$work/linux-tmp/lib.kvr" "$work/linux-kvr"
}

# The Windows updater, packed once by tessara-pack.exe under Wine.
wine_uk "$winbin/tessara-pack.exe" \
    --updater "$(windows_path "$winbin/tessara-updater.exe")" \
    --out "$(windows_path "$work/tessara-updater.exe")" \
    238="$(windows_path "$package")" >"$work/out/pack.stdout" 2>&1 || fail "tessara-pack.exe failed"

# A Windows suite `dir` for `database` on the server: the packed updater, the test rar.exe, the
# test fbclient.dll, lib.ini in Windows-1251 (CR LF) and a Reports directory for the template.
# In the embedded cases the whole engine folder instead of the client alone, and a local
# database (`database` a Windows path).
make_wine_suite() {
    local dir=$1 database=${2:-}
    mkdir -p "$dir/Reports"
    cp "$work/tessara-updater.exe" "$winbin/rar.exe" "$dir/"
    if [ -n "$embedded" ]; then
        cp -r "$engine/." "$dir/"
        rm -f "$dir/README"
        printf '[Common]\r\nTypeServer=0\r\nPathBaseGDB=%s\r\n' "$database" |
            iconv -f UTF-8 -t CP1251 >"$dir/lib.ini"
    else
        cp "$fbclient" "$dir/"
        printf '[Common]\r\nTypeServer=1\r\nNameServer=%s\r\nPathBaseGDB=%s\r\n' \
            "127.0.0.1/$port" "$database" | iconv -f UTF-8 -t CP1251 >"$dir/lib.ini"
    fi
}
# Runs the console updater of suite `dir` to its end; `name` names its outputs.
run_wine() {
    local dir=$1 name=$2 rc=0
    wine_uk "$dir/tessara-updater.exe" --console >"$work/out/$name.stdout" \
        2>"$work/out/$name.stderr" || rc=$?
    echo "$rc"
}

# --- Normalising for the comparison: only the places where the two runs' paths differ.
# The database, the work directory and the suite become <database>, <work> and <suite>, the
# snapshot's backup beside the database <backup vN>;
# Windows separators in those places become "/", the updater's ".exe" goes; the run's times (in
# the run record and in the names of the logs kept beside it) go, and so do the user and the
# machine in the run record's header (Windows names the machine in capitals) and the CR of its
# Windows line ends.
normalise() {
    local file=$1 suite=$2 database=$3 workdir=$4 rules=()
    [ -n "$database" ] && rules+=(-e "s|$(sed_literal "$database")|<database>|g")
    [ -n "$workdir" ] && rules+=(-e "s|$(sed_literal "$workdir")|<work>|g")
    rules+=(-e "s|$(sed_literal "$(windows_path "$suite")")|<suite>|g")
    rules+=(-e "s|$(sed_literal "$suite")|<suite>|g")
    LC_ALL=C sed "${rules[@]}" \
        -e ':a' -e 's#\(<work>\|<suite>\)\([^ \\"]*\)\\#\1\2/#' -e 'ta' \
        -e 's#<suite>/tessara-updater\.exe#<suite>/tessara-updater#g' \
        -e 's#\(tessara-updater-logs/\)[0-9-]\{10\}_[0-9]\{6\}_#\1<time>_#g' \
        -e 's#\(tessara-updater-snapshots/\)[0-9-]\{10\}_[0-9]\{6\}_#\1<time>_#g' \
        -e 's#[^ ]*\.v\([0-9]*\)\.[0-9-]\{10\}_[0-9]\{6\}\.tessara-snapshot\.fbk#<backup v\1>#g' \
        -e 's|^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] ||' \
        -e 's|^=== [0-9-]* [0-9:]* |=== |' \
        -e 's|^\(=== [a-z]* \)[^ ]*@[^ ]* |\1<user>@<host> |' \
        -e 's|\r$||' \
        "$file"
}
sed_literal() { printf '%s' "$1" | sed -e 's/[][\.*^$|/]/\\&/g'; }

# The suite's files that the package brought, with their digests (not the engine's, nor the log
# that the Windows engine writes into its folder).
suite_files() {
    (cd "$1" && find . \( -path ./tessara-updater-logs -o -path ./tessara-updater-snapshots \
        -o -path ./plugins -o -path ./intl \) \
        -prune -o -type f ! -name 'tessara-updater*' ! -name rar ! -name rar.exe \
        ! -name fbclient.dll ! -name 'firebird.*' ! -name 'icu*.dll' ! -name lib.ini -print0 |
        LC_ALL=C sort -z | xargs -0 -r sha256sum)
}

# The update logs of a run: those of its work directory and the copies kept beside the run
# record, each under its name (a copy's without the run's time).
update_logs() {
    local log
    for log in $(cd "$1" && LC_ALL=C ls -- *.log 2>/dev/null); do
        echo "== <work>/$log"
        cat "$1/$log"
    done
    for log in $(cd "$2/tessara-updater-logs" && LC_ALL=C ls -- *.log 2>/dev/null); do
        echo "== <suite>/tessara-updater-logs/$(sed 's/^[0-9-]\{10\}_[0-9]\{6\}_/<time>_/' <<<"$log")"
        cat "$2/tessara-updater-logs/$log"
    done
}

# --- A second connection holding a row: an isql session whose transaction updated the row and
# waits; the updater's statement on that row then waits for it (at most 10 s, its lock timeout).
hold_row() {
    local kind=$1 id=$2
    mkfifo "$work/holder.in"
    isql-fb -q -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" "$(connection "$kind")" \
        <"$work/holder.in" >"$work/out/holder" 2>&1 &
    holder_pid=$!
    exec 7>"$work/holder.in"
    printf 'set transaction wait;\nupdate ARTICLE set EXT = EXT where ID = %d;\n' "$id" >&7
    # Held once another transaction that must not wait meets a lock conflict on the row.
    local _
    for _ in $(seq 100); do
        printf 'set transaction no wait;\nupdate ARTICLE set EXT = EXT where ID = %d;\nrollback;\n' \
            "$id" | demo_isql "$(connection "$kind")" >"$work/probe" 2>&1 || true
        grep -qE 'update conflicts|lock conflict' "$work/probe" && return 0
        sleep 0.1
    done
    fail "the row $id of $kind is not held"
}
release_row() {
    printf 'rollback;\nquit;\n' >&7
    exec 7>&-
    wait "$holder_pid" || true
    holder_pid=
    rm -f "$work/holder.in"
}
# Waits until the updater's connection runs a statement whose text contains `text` and
# `condition` (SQL, true or false) holds: the updater then waits on the held row.
wait_for_statement() {
    local kind=$1 text=$2 condition=$3 _
    for _ in $(seq 300); do
        kill -0 "$updater_pid" 2>/dev/null || fail "the updater ended before it waited on the row"
        [ "$(sql "$kind" "select count(*) from MON\$STATEMENTS s join MON\$ATTACHMENTS a on \
a.MON\$ATTACHMENT_ID = s.MON\$ATTACHMENT_ID where a.MON\$REMOTE_PROCESS containing 'tessara-updater' \
and s.MON\$STATE = 1 and s.MON\$SQL_TEXT containing '$text' and $condition")" = 1 ] && return 0
        sleep 0.1
    done
    fail "the updater did not reach the statement with '$text'"
}
# A Windows program holding the local database of `kind` open through the engine beside it, as
# the suite's program does: test_database_holder copied to `program` in a suite, attached once it
# has said so, holding the database until release_database closes its standard input.
hold_database() {
    local program=$1 kind=$2 _
    cp "$winbin/test_database_holder.exe" "$program"
    mkfifo "$work/hold.in"
    "${wine_env[@]}" wine "$program" "$(wine_database "$kind")" <"$work/hold.in" \
        >"$work/out/hold.stdout" 2>"$work/out/hold.stderr" &
    holder_pid=$!
    exec 6>"$work/hold.in"
    for _ in $(seq 600); do
        grep -q '^attached 237$' "$work/out/hold.stdout" && return 0
        kill -0 "$holder_pid" 2>/dev/null || fail "the holder ended: $(cat "$work/out/hold.stderr")"
        sleep 0.1
    done
    fail "$program did not attach to the $kind database"
}
release_database() {
    exec 6>&-
    wait "$holder_pid" || fail "the holder failed: $(cat "$work/out/hold.stderr")"
    holder_pid=
    rm -f "$work/hold.in" "$1"
}
# Kills the updater's Unix process, as a power cut or the task manager would end it.
kill_updater() {
    kill -KILL "$updater_pid" 2>/dev/null || fail "the updater had ended before it was killed"
    wait "$updater_pid" 2>/dev/null || true
    updater_pid=
}

case $case in
compare | embedded-compare)
    make_databases linux wine window
    [ -n "$embedded" ] || start_server
    make_linux_suite
    run_linux

    wine_suite="$work/Тессара комплекс"
    make_wine_suite "$wine_suite" "$(wine_database wine)"
    expect_eq "exit status of the Windows console run" 4 "$(run_wine "$wine_suite" wine)"
    cp -r "$wine_work" "$work/wine-kvr"

    # The window: started as a user starts it, the button pressed, the journal read back.
    window_suite="$work/Тессара вікно"
    make_wine_suite "$window_suite" "$(wine_database window)"
    start_updater window "$window_suite/tessara-updater.exe"
    wine_uk "$winbin/test_window_driver.exe" "$(windows_path "$window_suite/tessara-updater.exe")" \
        >"$work/out/window.journal" 2>"$work/out/window.driver" || fail "the window run failed"
    rc=0
    wait "$updater_pid" || rc=$?
    updater_pid=
    expect_eq "exit status of the window" 0 "$rc"
    cp -r "$wine_work" "$work/window-kvr"

    # The journals: console and window alike, equal to the Linux one but for the paths.
    expect_eq "last line of the Windows journal" "Оновлення завершене успішно" \
        "$(tail -n 1 "$work/out/wine.stdout")"
    normalise "$work/out/linux.stdout" "$linux_suite" "$(database_of linux)" \
        "$work/linux-tmp/lib.kvr" >"$work/linux.journal"
    normalise "$work/out/wine.stdout" "$wine_suite" "$(wine_database wine)" \
        "$(windows_path "$wine_work")" >"$work/wine.journal"
    diff -u "$work/linux.journal" "$work/wine.journal" >&2 ||
        fail "the Windows journal differs from the Linux one"
    normalise "$work/out/window.journal" "$window_suite" "$(wine_database window)" \
        "$(windows_path "$wine_work")" >"$work/window.journal"
    { cat "$work/wine.journal"; echo "[failures] Не виконано елементів: 1"; } >"$work/expected"
    diff -u "$work/expected" "$work/window.journal" >&2 ||
        fail "the window's journal differs from the console's"
    # Standard error: the failed items with their log.
    diff -u <(normalise "$work/out/linux.stderr" "$linux_suite" "" "$work/linux-tmp/lib.kvr") \
        <(normalise "$work/out/wine.stderr" "$wine_suite" "" "$(windows_path "$wine_work")") >&2 ||
        fail "the Windows run's standard error differs from the Linux one's"

    # The databases: every table, blobs by digest, procedures, triggers, generators.
    for kind in linux wine window; do dump "$kind"; done
    grep -q '^== table CHANGE_LOG' "$work/linux.dump" || fail "the package's table is not in the dump"
    grep -q '^1 | .*Пакет 238' <(iconv -f CP1251 -t UTF-8 "$work/linux.dump") ||
        fail "the procedure did not log the package"
    grep -q 'blob 20000 ' "$work/linux.dump" || fail "the document of 18573 is not in the dump"
    for kind in wine window; do
        diff -u "$work/linux.dump" "$work/$kind.dump" >&2 ||
            fail "the $kind database differs from the Linux one"
    done

    # The suite's files: the program file and the template, byte for byte.
    suite_files "$linux_suite" >"$work/linux.files"
    expect_eq "program files of the Linux run" 2 "$(wc -l <"$work/linux.files")"
    for dir in "$wine_suite" "$window_suite"; do
        diff -u "$work/linux.files" <(suite_files "$dir") >&2 ||
            fail "the files of $dir differ from the Linux suite's"
    done

    # The update logs. The server repeats the refused statement's Cyrillic name in the script's
    # bytes (Windows-1251); the Windows updater reads the client's text that is not UTF-8 in the
    # ANSI code page, 1251 here, and so writes the message in UTF-8, while the Linux updater
    # leaves it as it came. For the comparison the Linux log's messages (the lines between the
    # separators that are not UTF-8; the statements stay as they are) are read as Windows-1251.
    update_logs "$work/linux-kvr" "$linux_suite" >"$work/linux.logs"
    grep -q '^== <suite>/tessara-updater-logs/<time>_238_up.2026.05.04.lsql.log' \
        "$work/linux.logs" ||
        fail "the Linux run kept no log of its failed items"
    grep -q 'НАЗВА' "$work/linux.logs" && fail "the Linux log's message is UTF-8 already"
    in_message=
    while IFS= read -r line; do
        if [[ $line == "------------------------- error -----"* ]]; then
            if [ -z "$in_message" ]; then in_message=1; else in_message=; fi
            printf '%s\n' "$line"
        elif [ -n "$in_message" ] && ! iconv -f UTF-8 -t UTF-8 <<<"$line" >/dev/null 2>&1; then
            iconv -f CP1251 -t UTF-8 <<<"$line"
        else
            printf '%s\n' "$line"
        fi
    done <"$work/linux.logs" >"$work/linux.logs.read"
    mv "$work/linux.logs.read" "$work/linux.logs"
    for kind in wine window; do
        suite=$wine_suite
        [ "$kind" = window ] && suite=$window_suite
        update_logs "$work/$kind-kvr" "$suite" >"$work/$kind.logs"
        grep -q '^-НАЗВА' "$work/$kind.logs" ||
            fail "the server's message in the $kind log is not UTF-8"
        diff -u "$work/linux.logs" "$work/$kind.logs" >&2 ||
            fail "the $kind update logs differ from the Linux ones"
    done

    # The run records: the same lines but for paths and times; the window's says so.
    normalise "$linux_suite/tessara-updater.log" "$linux_suite" "$(database_of linux)" \
        "$work/linux-tmp/lib.kvr" >"$work/linux.record"
    normalise "$wine_suite/tessara-updater.log" "$wine_suite" "$(wine_database wine)" \
        "$(windows_path "$wine_work")" >"$work/wine.record"
    diff -u "$work/linux.record" "$work/wine.record" >&2 ||
        fail "the Windows run record differs from the Linux one"
    expect_line "record of the Windows run" "[outcome] succeeded with failed items, exit status 4" \
        "$work/wine.record"
    expect_line "failed items in the record" \
        "[failed] 1 in <suite>/tessara-updater-logs/<time>_238_up.2026.05.04.lsql.log" \
        "$work/wine.record"
    grep -q '^=== window <user>@<host> <suite>/tessara-updater$' \
        <(normalise "$window_suite/tessara-updater.log" "$window_suite" "" "") ||
        fail "the window's run record has no header"
    grep -qF '[outcome] succeeded with failed items (exit status 4 in console mode)' \
        "$window_suite/tessara-updater.log" || fail "the window's run record has no outcome"
    ;;

resume | embedded-resume)
    held=wine
    if [ -n "$embedded" ]; then
        # The embedded engine opens the database for the updater's process alone: no second
        # connection can hold one of its rows. A trigger of the test's own makes the updater's
        # two steps wait for a row of another database on the private server, the same row of
        # ARTICLE there, through EXECUTE STATEMENT ON EXTERNAL in the updater's transaction (and
        # with its lock timeout); it is dropped before the end state is compared.
        held=hold
        make_databases linux wine hold
        start_server
        iconv -f UTF-8 -t CP1251 <<EOF | demo_isql "$(connection wine)" >/dev/null ||
set term ^ ;
create trigger TEST_HOLD for ARTICLE before update position 0 as
begin
  if ((new.ID = 18540 and new.EXT is distinct from old.EXT) or
      (new.ID = 18573 and new.NOTE_U is not null and old.NOTE_U is null)) then
    execute statement ('update ARTICLE set EXT = EXT where ID = ' || new.ID)
      on external '$(connection hold)' as user '$DEMO_DB_USER' password '$DEMO_DB_PASSWORD';
end^
set term ; ^
EOF
            fail "cannot create the holding trigger"
    else
        make_databases linux wine
        start_server
    fi
    make_linux_suite
    run_linux
    dump linux
    suite=$work/Тессара
    make_wine_suite "$suite" "$(wine_database wine)"

    # 1. Killed in the statement pass, while its statement on the older article 18540 waits.
    hold_row "$held" 18540
    start_updater run1 "$suite/tessara-updater.exe" --console
    wait_for_statement "$held" "18540" "1 = 1"
    # A second updater of the suite meanwhile: refused at once, nothing changed.
    expect_eq "exit status of a second updater" 2 "$(run_wine "$suite" second)"
    refusal="Інша програма оновлення вже працює з цим комплексом ($(windows_path "$suite")\\tessara-updater.lock). Дочекайтеся її завершення та перезапустіть оновлення!"
    expect_eq "message of the second updater" "$refusal"$'\n'"Код завершення 2: $refusal" \
        "$(cat "$work/out/second.stderr")"
    expect_eq "journal of the second updater" \
        "Інша програма оновлення вже працює з цим комплексом ($(windows_path "$suite")\\tessara-updater.lock)|Оновлення не можливо!!!" \
        "$(paste -sd '|' "$work/out/second.stdout")"
    kill_updater
    release_row
    # Killed while that script ran: had the wait for the row ended first (10 s), the run would
    # have gone on.
    expect_eq "last line of the killed run" "up.2026.05.04.lsql" "$(tail -n 1 "$work/out/run1.stdout")"
    expect_eq "the package in the ledger after the first kill" 238 \
        "$(sql wine "select PACKAGE_NO from UPD\$LEDGER where SCRIPT is null")"
    expect_eq "article 18540 after the first kill" pdf \
        "$(sql wine "select EXT from ARTICLE where ID = 18540")"
    expect_eq "documents after the first kill" 0 \
        "$(sql wine "select count(*) from ARTICLE where NOTE_U is not null")"

    # 2. Continued, and killed in the document pass: the ".r" documents are stored, and the ".u"
    # documents of the new articles 18542 to 18572; 18573.u waits for its row.
    hold_row "$held" 18573
    start_updater run2 "$suite/tessara-updater.exe" --console
    if [ -n "$embedded" ]; then
        wait_for_statement hold "18573" "1 = 1"
    else
        wait_for_statement wine "note_u" "(select count(*) from ARTICLE where ID between 18542 \
and 18572 and NOTE_U is not null) = 31"
    fi
    kill_updater
    release_row
    expect_eq "last line of the run killed in the document pass" "up.99.238.lsql" \
        "$(tail -n 1 "$work/out/run2.stdout")"
    expect_line "journal of the continued run" \
        "Пакет 238 встановлено не до кінця: його буде продовжено" "$work/out/run2.stdout"
    # The version script has run; the ledger still says that the package is not complete.
    expect_eq "version after the second kill" 238 "$(sql wine "select data from versions")"
    expect_eq "the package in the ledger after the second kill" 238 \
        "$(sql wine "select PACKAGE_NO from UPD\$LEDGER where SCRIPT is null")"
    expect_eq "article 18540 after the second kill" docx \
        "$(sql wine "select EXT from ARTICLE where ID = 18540")"
    expect_eq "\".r\" documents after the second kill" 77 \
        "$(sql wine "select count(*) from ARTICLE where NOTE is not null")"
    expect_eq "\".u\" documents after the second kill" 31 \
        "$(sql wine "select count(*) from ARTICLE where NOTE_U is not null")"

    # 3. Run to its end: the statement the server refuses fails again and is counted.
    expect_eq "exit status of the last run" 4 "$(run_wine "$suite" run3)"
    expect_line "journal of the last run" "Пакет 238 встановлено не до кінця: його буде продовжено" \
        "$work/out/run3.stdout"
    expect_eq "last line of the last run" "Оновлення завершене успішно" \
        "$(tail -n 1 "$work/out/run3.stdout")"
    if [ -n "$embedded" ]; then
        echo "drop trigger TEST_HOLD;" | demo_isql "$(connection wine)" ||
            fail "cannot drop the holding trigger"
    fi
    dump wine
    diff -u "$work/linux.dump" "$work/wine.dump" >&2 ||
        fail "the resumed database differs from the Linux one"
    diff -u <(suite_files "$linux_suite") <(suite_files "$suite") >&2 ||
        fail "the resumed suite's files differ from the Linux suite's"
    expect_eq "runs recorded (the second updater records nothing)" 3 \
        "$(grep -c '^=== .* console ' "$suite/tessara-updater.log")"
    ;;

errors)
    make_databases wine
    start_server
    suite=$work/Тессара
    # The database path names no file: the server's message carries the path it was sent in
    # UTF-8, and arrives so.
    missing="$work/нема даних/бібліотека.gdb"
    make_wine_suite "$suite" "$missing"
    expect_eq "exit status without the database" 2 "$(run_wine "$suite" missing)"
    expect_line "journal without the database" "$missing" "$work/out/missing.stdout"
    expected="I/O error during \"open\" operation for file \"$missing\""
    grep -qF "$expected" "$work/out/missing.stderr" || fail "no '$expected' on standard error"
    grep -qF "[message] $expected" "$suite/tessara-updater.log" ||
        fail "no '$expected' in the run record"

    # A server host with a Cyrillic name that no one knows: the client names it in the ANSI
    # code page (Windows-1251 here). Console and window alike show it in UTF-8.
    host=бухгалтерія-сервер.invalid
    printf '[Common]\r\nTypeServer=1\r\nNameServer=%s\r\nPathBaseGDB=%s\r\n' "$host" \
        "$(database_of wine)" | iconv -f UTF-8 -t CP1251 >"$suite/lib.ini"
    expect_eq "exit status with an unknown host" 2 "$(run_wine "$suite" host)"
    expected="Unable to complete network request to host \"$host\". -Failed to locate host machine."
    grep -qF "$expected" "$work/out/host.stderr" || fail "no '$expected' on standard error"
    grep -qF "[message] $expected" "$suite/tessara-updater.log" ||
        fail "no '$expected' in the run record"
    start_updater host-window "$suite/tessara-updater.exe"
    wine_uk "$winbin/test_window_driver.exe" "$(windows_path "$suite/tessara-updater.exe")" \
        >"$work/out/host-window.journal" 2>"$work/out/host-window.driver" ||
        fail "the window did not show the checks' error"
    wait "$updater_pid" || true
    updater_pid=
    grep -qF "[message] Unable to complete network request to host \"$host\"." \
        "$work/out/host-window.journal" || fail "the window's error box does not name the host"

    # A package whose version script leaves the version below its number: exit status 1.
    version_package=$work/version-package
    mkdir -p "$version_package"
    printf 'update versions set update_date = current_timestamp;\r\n' \
        >"$version_package/up.99.238.lsql"
    version_suite=$work/Версія
    make_wine_suite "$version_suite" "$(database_of wine)"
    wine_uk "$winbin/tessara-pack.exe" --updater "$(windows_path "$winbin/tessara-updater.exe")" \
        --out "$(windows_path "$version_suite/tessara-updater.exe")" \
        238="$(windows_path "$version_package")" >"$work/out/pack-version" 2>&1 ||
        fail "tessara-pack.exe failed"
    expect_eq "exit status below the version" 1 "$(run_wine "$version_suite" version)"
    expect_eq "journal below the version" \
        "error: після пакета 238 версія бази даних 237|Помилка при оновлені: -2" \
        "$(tail -n 2 "$work/out/version.stdout" | paste -sd '|')"
    expect_line "record below the version" \
        "[outcome] failed with code -2, exit status 1" \
        <(normalise "$version_suite/tessara-updater.log" "$version_suite" "" "")
    ;;
undo)
    make_databases wine
    start_server
    suite=$work/Тессара
    make_wine_suite "$suite" "$(wine_database wine)"
    # The suite's older program: the update replaces it, the undo brings it back. The template
    # is new: the undo moves it into the snapshot.
    printf 'old program' >"$suite/tessara.exe"
    dump wine
    mv "$work/wine.dump" "$work/before.dump"
    suite_files "$suite" >"$work/before.files"
    ini_before=$(sha256sum <"$suite/lib.ini")

    rc=0
    wine_uk "$suite/tessara-updater.exe" --plan >"$work/out/plan.stdout" \
        2>"$work/out/plan.stderr" || rc=$?
    expect_eq "exit status of --plan" 0 "$rc"
    grep -q "^Пакет 238: .* SHA-256 [0-9a-f]\{64\} перевірено$" "$work/out/plan.stdout" ||
        fail "--plan names no package"
    expect_line "--plan on the program" "  замінить tessara.exe" "$work/out/plan.stdout"
    expect_line "--plan on the template" "  додасть Reports\\list.fr3" "$work/out/plan.stdout"
    expect_line "--plan on the server's space" \
        "Місце для знімка бази даних: на сервері 127.0.0.1/$port, звідси не перевіряється" \
        "$work/out/plan.stdout"
    planned=$(sed -n 's/^  скрипт up.2026.05.04.lsql: інструкцій \([0-9]*\)\r\{0,1\}$/\1/p' \
        "$work/out/plan.stdout")
    dump wine
    diff -u "$work/before.dump" "$work/wine.dump" >&2 || fail "--plan changed the database"
    diff -u "$work/before.files" <(suite_files "$suite") >&2 || fail "--plan changed the suite"
    expect_eq "lib.ini after --plan" "$ini_before" "$(sha256sum <"$suite/lib.ini")"

    # The run: the snapshot first, on the server beside the database.
    expect_eq "exit status of the run" 4 "$(run_wine "$suite" run)"
    grep -q "^Знімок бази даних (версія 237): $work/wine-data/бібліотека\.v237\.[0-9_-]*\.tessara-snapshot\.fbk на сервері 127\.0\.0\.1/$port\$" \
        "$work/out/run.stdout" || fail "no snapshot on the server in the journal"
    ls "$work/wine-data"/бібліотека.v237.*.tessara-snapshot.fbk >/dev/null ||
        fail "no backup beside the database on the server"
    # Nine statements: the SET TERM lines are the splitter's own and run nothing.
    expect_eq "statements of the second script in the plan" 9 "$planned"
    expect_eq "version after the run" 238 "$(sql wine "select data from versions")"

    # The undo: a new database on the server, lib.ini naming it in the suite's code page.
    rc=0
    wine_uk "$suite/tessara-updater.exe" --console --undo >"$work/out/undo.stdout" \
        2>"$work/out/undo.stderr" || rc=$?
    expect_eq "exit status of --undo" 0 "$rc"
    expect_eq "last line of --undo" "Оновлення скасовано" "$(tail -n 1 "$work/out/undo.stdout")"
    expect_line "version read back" "Версія бази даних: 237" "$work/out/undo.stdout"
    restored=$(iconv -f CP1251 -t UTF-8 "$suite/lib.ini" | tr -d '\r' |
        sed -n 's/^PathBaseGDB=//p')
    [[ $restored == "$work/wine-data/бібліотека.v237."*.gdb ]] ||
        fail "lib.ini names no restored database beside the old one: '$restored'"
    "$linbin/database_dump" "127.0.0.1/$port:$restored" >"$work/restored.dump" ||
        fail "cannot dump the restored database"
    diff -u "$work/before.dump" "$work/restored.dump" >&2 ||
        fail "the restored database differs from the one before the run"
    diff -u "$work/before.files" <(suite_files "$suite") >&2 ||
        fail "the suite's files after --undo differ from those before the run"
    expect_eq "program after --undo" "old program" "$(cat "$suite/tessara.exe")"
    expect_eq "undone database kept" 238 "$(sql wine "select data from versions")"
    expect_line "the kept database named" \
        "Базу даних, яку скасовано, збережено: $(database_of wine). Видаліть її, коли вона стане непотрібною" \
        "$work/out/undo.stdout"
    rc=0
    wine_uk "$suite/tessara-updater.exe" --console --undo >"$work/out/undo2.stdout" \
        2>"$work/out/undo2.stderr" || rc=$?
    expect_eq "exit status of a second --undo" 3 "$rc"
    # The update installs again into the restored database.
    expect_eq "exit status of the run after the undo" 4 "$(run_wine "$suite" again)"
    expect_eq "version of the restored database after the run" 238 \
        "$(demo_sql_values "127.0.0.1/$port:$restored" "select data from versions")"

    # Undone once more in the window: --undo without --console, its button pressed.
    start_updater undo-window "$suite/tessara-updater.exe" --undo
    wine_uk "$winbin/test_window_driver.exe" "$(windows_path "$suite/tessara-updater.exe")" \
        >"$work/out/undo-window.journal" 2>"$work/out/undo-window.driver" ||
        fail "the window's undo did not end"
    rc=0
    wait "$updater_pid" || rc=$?
    updater_pid=
    expect_eq "exit status of the undo's window" 0 "$rc"
    expect_eq "last line of the window's undo" "Оновлення скасовано" \
        "$(tail -n 1 "$work/out/undo-window.journal")"
    grep -q '^\[message\]' "$work/out/undo-window.journal" && fail "the window's undo showed a box"
    restored_again=$(iconv -f CP1251 -t UTF-8 "$suite/lib.ini" | tr -d '\r' |
        sed -n 's/^PathBaseGDB=//p')
    [[ $restored_again == "$work/wine-data/бібліотека.v237."*.gdb && $restored_again != "$restored" ]] ||
        fail "lib.ini names no second restored database: '$restored_again'"
    "$linbin/database_dump" "127.0.0.1/$port:$restored_again" >"$work/restored.dump" ||
        fail "cannot dump the database the window restored"
    diff -u "$work/before.dump" "$work/restored.dump" >&2 ||
        fail "the database the window restored differs from the one before the first run"
    diff -u "$work/before.files" <(suite_files "$suite") >&2 ||
        fail "the suite's files after the window's undo differ from those before the run"
    ;;
embedded-errors)
    make_databases wine
    suite=$work/Тессара
    make_wine_suite "$suite" "$(wine_database wine)"

    # The suite's program holds the database: the updater sees it run, before any connection.
    hold_database "$suite/tessara.exe" wine
    expect_eq "exit status beside the suite's program" 2 "$(run_wine "$suite" suite-runs)"
    expect_eq "journal beside the suite's program" \
        "Программа запущена|Оновлення не можливо!!!" \
        "$(tail -n 2 "$work/out/suite-runs.stdout" | paste -sd '|')"
    grep -qF "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть оновлення!" \
        "$work/out/suite-runs.stderr" || fail "no refusal of the running suite"
    release_database "$suite/tessara.exe"

    # Another program holds it: the engine cannot open it for a second process.
    hold_database "$suite/архів.exe" wine
    expect_eq "exit status beside another program" 2 "$(run_wine "$suite" held)"
    held="Базу даних $(wine_database wine) відкрила інша програма цього комп'ютера (ПК Тессара, інша програма оновлення, архівування): поки вона працює з базою, оновлення неможливе. Оновлення нічого не змінило. Закрийте цю програму та перезапустіть оновлення!"
    grep -qF "$held" "$work/out/held.stderr" ||
        fail "the database held by another program is not said in the interface's words"
    release_database "$suite/архів.exe"
    expect_eq "version after the refusals" 237 "$(sql wine "select data from versions")"

    # A missing engine file is named before the engine is asked (which would probe for ICU for
    # seconds, or fail only at the first WIN1251 statement without intl/).
    for missing in icuuc72.dll icudt72.dll intl plugins/engine12.dll; do
        dir="$work/Без ${missing//\//_}"
        make_wine_suite "$dir" "$(wine_database wine)"
        rm -r "${dir:?}/$missing"
        name=$(basename "$missing")
        expect_eq "exit status without $missing" 2 "$(run_wine "$dir" "no-$name")"
        case $missing in
        icuuc72.dll) expected="немає бібліотек ICU ($(windows_path "$dir")\\icuuc*.dll" ;;
        intl) expected="немає файлу $(windows_path "$dir")\\intl\\fbintl.dll" ;;
        *) expected="немає файлу $(windows_path "$dir/$missing")" ;;
        esac
        grep -qF "серед файлів Firebird комплексу $expected" "$work/out/no-$name.stderr" ||
            fail "the updater does not name $missing: $(cat "$work/out/no-$name.stderr")"
        grep -q "ICU library" "$work/out/no-$name.stderr" && fail "the engine was asked without $missing"
    done
    expect_eq "version after the missing files" 237 "$(sql wine "select data from versions")"
    ;;
esac
echo "PASS ($case)"
