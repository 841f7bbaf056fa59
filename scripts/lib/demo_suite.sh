# shellcheck shell=bash
# Helpers for a demo suite directory (lib.ini, rar, the database lib.gdb); sourced by
# scripts/demo.sh, scripts/screenshot.sh, bench/run.sh and the integration tests.

DEMO_DB_USER=SYSDBA
DEMO_DB_PASSWORD=pinewheat

# The embedded engine needs a writable lock directory; root gets /tmp/firebird by itself, any
# other user needs its own, shared by every process that opens the same database.
demo_firebird_env() {
    if [ "$(id -u)" -ne 0 ] && [ -z "${FIREBIRD_LOCK:-}" ]; then
        FIREBIRD_LOCK="${TMPDIR:-/tmp}/firebird-lock-$(id -u)"
        export FIREBIRD_LOCK
        mkdir -p "$FIREBIRD_LOCK"
    fi
}

# Runs SQL from standard input against a database (a path, or host/port:path), stopping at the
# first error. isql-fb reads its standard input through a line editor that drops bytes above 127
# (Windows-1251 letters), so the SQL always goes through a file.
demo_isql() {
    local sql rc=0
    sql=$(mktemp)
    cat >"$sql"
    isql-fb -q -bail -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" -i "$sql" "$1" || rc=$?
    rm -f "$sql"
    return $rc
}

# Prints the values of a one-column query, one a line, blanks trimmed ("<null>" for NULL).
demo_sql_values() {
    local database=$1 query=$2
    printf 'set heading off;\nset list off;\n%s;\n' "$query" | demo_isql "$database" |
        sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' -e '/^$/d'
}

# Creates the suite's database at `path` (embedded; the file must not exist) at `version`: the
# tables the updater and the demo package touch, a few rubrics and older articles, and the
# INFO_DOC row 10. Texts are written in UTF-8 here and stored in Windows-1251, as the suite does.
create_demo_database() {
    local path=$1 version=$2 sql rc=0
    sql=$(mktemp)
    {
        echo "create database '$path' user '$DEMO_DB_USER' password '$DEMO_DB_PASSWORD' page_size 8192;"
        iconv -f UTF-8 -t CP1251 <<EOF
create table versions (data integer, update_date timestamp);
create table ARTICLE (
  id integer not null primary key,
  name varchar(255) character set win1251,
  name_u varchar(255) character set win1251,
  ext varchar(10),
  ext_u varchar(10),
  note blob sub_type 0,
  note_u blob sub_type 0);
create table INFO_DOC (ID integer not null primary key, NOTE blob sub_type 0, NOTE_U blob sub_type 0);
create table RUBRIC (
  id integer not null primary key,
  name varchar(255) character set win1251,
  name_u varchar(255) character set win1251);
create table ARTICLE_RUBRIC (
  article_id integer not null references ARTICLE (id),
  rubric_id integer not null references RUBRIC (id),
  primary key (article_id, rubric_id));
create table ARTICLE_KEYWORD (
  article_id integer not null references ARTICLE (id),
  word varchar(255) character set win1251,
  word_u varchar(255) character set win1251);
commit;
insert into versions values ($version, '2026-04-18 10:15:00');
insert into RUBRIC values (1, 'Налоги', 'Податки');
insert into RUBRIC values (2, 'Бухгалтерский учет', 'Бухгалтерський облік');
insert into RUBRIC values (3, 'Труд и зарплата', 'Праця і зарплата');
insert into RUBRIC values (4, 'Социальное страхование', 'Соціальне страхування');
insert into RUBRIC values (5, 'Внешнеэкономическая деятельность', 'Зовнішньоекономічна діяльність');
insert into RUBRIC values (6, 'Банковская деятельность', 'Банківська діяльність');
insert into RUBRIC values (7, 'Предпринимательство', 'Підприємництво');
insert into RUBRIC values (8, 'Земельные отношения', 'Земельні відносини');
insert into RUBRIC values (9, 'Образование', 'Освіта');
insert into RUBRIC values (10, 'Здравоохранение', 'Охорона здоров’я');
insert into RUBRIC values (11, 'Статистика', 'Статистика');
insert into RUBRIC values (12, 'Бюджетные учреждения', 'Бюджетні установи');
insert into ARTICLE (id, name, name_u, ext, ext_u) values (18540, 'Приказ Министерства финансов Украины от 27.03.2026 № 211 «Об утверждении Порядка списания безнадежной задолженности»', 'Наказ Міністерства фінансів України від 27.03.2026 № 211 «Про затвердження Порядку списання безнадійної заборгованості»', 'pdf', 'pdf');
insert into ARTICLE (id, name, name_u, ext, ext_u) values (18541, 'Письмо Государственной налоговой службы Украины от 02.04.2026 № 1450 «О сроках уплаты единого налога»', 'Лист Державної податкової служби України від 02.04.2026 № 1450 «Про строки сплати єдиного податку»', 'doc', 'pdf');
insert into ARTICLE (id, name, name_u, ext, ext_u) values (18573, 'Постановление Кабинета Министров Украины от 09.04.2026 № 388 «О минимальной заработной плате»', 'Постанова Кабінету Міністрів України від 09.04.2026 № 388 «Про мінімальну заробітну плату»', 'pdf', 'doc');
insert into INFO_DOC (ID) values (10);
commit;
EOF
    } >"$sql" && isql-fb -q -bail -i "$sql" >/dev/null 2>"$sql.err" || rc=$?
    if [ "$rc" -ne 0 ] && [ -f "$sql.err" ]; then
        cat "$sql.err" >&2
    fi
    rm -f "$sql" "$sql.err"
    return "$rc"
}

# Writes lib.ini into `dir`: local database by default, or a server when `server` is given
# ("localhost/3050"), with `databasePath` as the server sees it.
write_demo_ini() {
    local dir=$1 server=${2:-} databasePath=${3:-}
    if [ -z "$server" ]; then
        # No PathBaseGDB: the updater uses lib.gdb in its own directory.
        printf '[Common]\r\nTypeServer=0\r\n' >"$dir/lib.ini"
    else
        printf '[Common]\r\nTypeServer=1\r\nNameServer=%s\r\nPathBaseGDB=%s\r\n' \
            "$server" "$databasePath" >"$dir/lib.ini"
    fi
}

# Makes a fresh demo suite directory: lib.ini, the shipped rar and lib.gdb at `version`.
# `bin` is the build's bin directory.
make_demo_suite() {
    local dir=$1 bin=$2 version=$3
    rm -rf "$dir"
    mkdir -p "$dir"
    write_demo_ini "$dir"
    cp "$bin/rar" "$dir/rar"
    create_demo_database "$(cd "$dir" && pwd)/lib.gdb" "$version"
}
