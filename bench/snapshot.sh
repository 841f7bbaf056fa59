#!/usr/bin/env bash
# Benchmark: the snapshot before an update against Firebird's own tools making the same backup by
# hand and against a plain copy of the database file, on the demo database and on a generated
# one of at least 1 GB.
#
#   bench/snapshot.sh [--large-mb N] [--rounds N] [--out DIR]
#
# The snapshot is the services manager's backup (isc_action_svc_backup with no options, the
# call db/ServiceManager.cpp makes), run here by `gbak -se service_mgr`, which makes exactly
# that call to the embedded engine. By hand: `gbak -b` (the tool doing the backup itself) and
# `nbackup -B 0`. Plain copy: `cp`. Every step starts after a sync, with the file in the page
# cache (read once before); the table gives medians of the rounds and each time as a ratio to
# the plain copy = 1.00 and to `gbak -b` = 1.00.
set -euo pipefail

large_mb=1100
rounds=3
out=$(cd "$(dirname "$0")" && pwd)/out-snapshot
while [ $# -gt 0 ]; do
    case $1 in
        --large-mb) large_mb=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: $0 [--large-mb N] [--rounds N] [--out DIR]" >&2; exit 2 ;;
    esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env
rm -rf "$out"
mkdir -p "$out"
auth=(-user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD")

# Seconds that the command takes, after a sync.
seconds() {
    sync
    local start end
    start=$(date +%s.%N)
    # The embedded engine's tools sometimes crash on their way out, after the work is done: the
    # result is checked by its file instead.
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

measure() {  # name database
    local name=$1 db=$2 k
    cat "$db" >/dev/null
    : >"$out/$name.snapshot"; : >"$out/$name.gbak"; : >"$out/$name.nbackup"; : >"$out/$name.copy"
    for k in $(seq 1 "$rounds"); do
        rm -f "$out/s.fbk" "$out/g.fbk" "$out/n.nbk" "$out/c.fdb"
        seconds gbak -b -se service_mgr "${auth[@]}" "$db" "$out/s.fbk" >>"$out/$name.snapshot"
        seconds gbak -b "${auth[@]}" "$db" "$out/g.fbk" >>"$out/$name.gbak"
        seconds nbackup "${auth[@]}" -B 0 "$db" "$out/n.nbk" >>"$out/$name.nbackup"
        seconds cp "$db" "$out/c.fdb" >>"$out/$name.copy"
        for f in s.fbk g.fbk n.nbk c.fdb; do
            [ -s "$out/$f" ] || { echo "no $f made" >&2; exit 1; }
        done
    done
    local s g n c
    s=$(median <"$out/$name.snapshot"); g=$(median <"$out/$name.gbak")
    n=$(median <"$out/$name.nbackup"); c=$(median <"$out/$name.copy")
    printf '%s: %s MB, backup %s MB\n' "$name" "$(($(stat -c %s "$db") / 1048576))" \
        "$(($(stat -c %s "$out/s.fbk") / 1048576))"
    printf '  %-22s %8s s  %6s x copy  %6s x gbak -b\n' \
        snapshot "$s" "$(echo "scale=2; $s / $c" | bc)" "$(echo "scale=2; $s / $g" | bc)" \
        "gbak -b (by hand)" "$g" "$(echo "scale=2; $g / $c" | bc)" 1.00 \
        "nbackup -B 0" "$n" "$(echo "scale=2; $n / $c" | bc)" "$(echo "scale=2; $n / $g" | bc)" \
        "cp (plain copy)" "$c" 1.00 "$(echo "scale=2; $c / $g" | bc)"
    rm -f "$out/s.fbk" "$out/g.fbk" "$out/n.nbk" "$out/c.fdb"
}

create_demo_database "$out/demo.fdb" 237
measure demo "$out/demo.fdb"

# The large database: rows of 30,000 random-looking bytes (no page compresses them away).
rows=$((large_mb * 1048576 / 30000))
isql-fb -q "${auth[@]}" <<SQL
create database '$out/large.fdb' page_size 8192;
create table big (id integer not null primary key, data varchar(30000) character set octets);
set term ^;
execute block as
declare i integer = 0;
begin
  while (i < $rows) do begin
    insert into big values (:i, rpad(gen_uuid(), 30000, gen_uuid()));
    i = i + 1;
  end
end^
set term ;^
commit;
SQL
measure large "$out/large.fdb"
rm -rf "$out"
