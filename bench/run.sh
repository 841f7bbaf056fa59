#!/usr/bin/env bash
# Benchmark: the console-mode updater installing the full-size demo package 238 into a fresh
# version-237 database, beside the best existing tools doing the same work in the same run.
#
#   bench/run.sh [--build DIR] [--no-build] [--scale S]
#
# Builds what it needs in DIR (default build/; --no-build takes the programs already built
# there), works in bench/out/ (replaced on every run) and prints one table; its last line is the
# ratio of the updater's total time to the sum of the baselines.
#
# How the updater's phases are measured, from outside and without any change to the program:
# - Every standard output line is stamped with the time it arrives. The write-out begins when
#   "Наявність архиватора RAR...[OK]" arrives: console mode writes that line when it is marked or
#   at the latest when the next line, "Копіювання пакету", begins.
# - A poller (every 5 ms) watches the updater's child processes and the work directory and
#   records the first moment it sees each of these:
#   - the updater has a child process (the archiver): the write-out has ended, unpacking begins;
#   - the child has ended: unpacking has ended, the scripts begin;
#   - "up.99.238.l~lsql" (the version script renamed): the scripts have ended, documents begin;
#   - the last ".u" renamed to ".~u": the documents have ended, blob files begin;
#   - both ".~blo": the blob files have ended.
# "start-up and the rest" is what remains of the total (process start, pre-flight, work
# directory clean-up, the final line, exit). The stamped journal stays in bench/out/journal.tsv.
# Baselines: unar unpacking the same archive; isql-fb running the same two scripts with a COMMIT
# after every statement on a fresh copy of the same database; bench_minimal_loader storing the
# same document and blob files into the same rows (one transaction per file, 65,535-byte
# segments). Peak resident memory comes from /usr/bin/time -v; the idle size is a second start of
# the same updater that stops after its pre-flight (nothing left to install, exit status 3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
scale=1.0
build_first=1
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --no-build) build_first=''; shift ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source "$root/scripts/lib/packages.sh"
install_missing_packages time
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env

if [ -n "$build_first" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)" --target tessara-updater tessara-pack rar \
        tessara-demo-package bench_minimal_loader >/dev/null
fi
bin=$build/bin

out=$root/bench/out
rm -rf "$out"
mkdir -p "$out/tmp" "$out/suite"
echo "Preparing: package 238 (scale $scale), database at version 237 ..." >&2
"$bin/tessara-demo-package" --scale "$scale" --out "$out/package" --rar "$out/238.rar" >/dev/null
create_demo_database "$out/base.gdb" 237

# --- The updater
suite=$out/suite
write_demo_ini "$suite"
cp "$bin/rar" "$suite/rar"
cp "$out/base.gdb" "$suite/lib.gdb"
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$out/238.rar" >/dev/null
work=$out/tmp/lib.kvr
last_document=$(cd "$out/package" && ls -- *.u | LC_ALL=C sort -f | tail -n 1)

# Records the first moment each phase boundary is seen (see the top of this file).
poll_run() {
    local pid='' unpack='' unpacked='' scripts='' documents='' blobs=''
    local children list listed blob_files
    while [ -z "$blobs" ]; do
        if [ -z "$pid" ]; then
            [ -s "$out/updater.pid" ] && read -r pid <"$out/updater.pid"
        elif [ ! -d "/proc/$pid" ]; then
            break  # the updater has ended early; the caller reports its exit status
        fi
        if [ -z "$unpacked" ] && [ -n "$pid" ]; then
            children=''
            for list in "/proc/$pid/task/"*/children; do
                listed=''
                read -r -d '' listed <"$list" 2>/dev/null || true  # ends at EOF, not at a NUL
                children+=$listed
            done
            children=${children//[[:space:]]/}
            if [ -z "$unpack" ] && [ -n "$children" ]; then
                unpack=$EPOCHREALTIME
                echo "unpack $unpack"
            elif [ -n "$unpack" ] && [ -z "$children" ]; then
                unpacked=$EPOCHREALTIME
                echo "unpacked $unpacked"
            fi
        fi
        if [ -z "$scripts" ] && [ -e "$work/up.99.238.l~lsql" ]; then
            scripts=$EPOCHREALTIME
            echo "scripts $scripts"
        fi
        if [ -z "$documents" ] && [ -e "$work/${last_document%.u}.~u" ]; then
            documents=$EPOCHREALTIME
            echo "documents $documents"
        fi
        blob_files=("$work"/*.~blo)
        if [ -n "$documents" ] && [ ${#blob_files[@]} -eq 2 ] && [ -e "${blob_files[0]}" ]; then
            blobs=$EPOCHREALTIME
            echo "blobs $blobs"
        fi
        sleep 0.005
    done
}

stamp_lines() {
    local line
    while IFS= read -r line; do
        printf '%s\t%s\n' "$EPOCHREALTIME" "$line"
    done
}

echo "Running the updater ..." >&2
sync  # every step starts with no dirty pages of the preparation left to write back
poll_run >"$out/events" &
poller=$!
# The poller waits for a PID file that a failed start never writes: end it whatever happens.
stop_poller() {
    [ -n "$poller" ] || return 0
    kill "$poller" 2>/dev/null || true
    wait "$poller" 2>/dev/null || true
    poller=
}
trap stop_poller EXIT
trap 'exit 1' INT TERM HUP
start=$EPOCHREALTIME
# The shell records its PID and becomes the updater (exec keeps the PID), so the poller can watch
# the updater's children; /usr/bin/time measures that one process.
set +e
TMPDIR=$out/tmp /usr/bin/time -v -o "$out/updater.time" \
    sh -c 'echo $$ >"$1"; exec stdbuf -oL "$2" --console' sh "$out/updater.pid" \
    "$suite/tessara-updater" 2>"$out/updater.err" | stamp_lines >"$out/journal.tsv"
rc=${PIPESTATUS[0]}
set -e
finish=$EPOCHREALTIME
sleep 0.05
stop_poller
if [ "$rc" -ne 0 ]; then
    echo "the updater ended with exit status $rc:" >&2
    cut -f2 "$out/journal.tsv" >&2
    cat "$out/updater.err" >&2
    exit 1
fi
version=$(demo_sql_values "$suite/lib.gdb" "select data from versions")
[ "$version" = 238 ] || { echo "database version after the run: $version" >&2; exit 1; }

# Idle size: the same program and database, pre-flight only (nothing left to install).
TMPDIR=$out/tmp /usr/bin/time -v -o "$out/idle.time" "$suite/tessara-updater" --console \
    >/dev/null 2>&1 || true

event() { awk -v name="$1" '$1 == name { print $2 }' "$out/events"; }
arrival() {  # the time the first journal line starting with $1 arrived
    awk -F'\t' -v text="$1" 'index($2, text) == 1 { print $1; exit }' "$out/journal.tsv"
}
rss_mb() { awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$1"; }

t_write=$(arrival "Наявність архиватора RAR")
t_unpack=$(event unpack)
t_unpacked=$(event unpacked)
t_scripts=$(event scripts)
t_documents=$(event documents)
t_blobs=$(event blobs)
for t in t_write t_unpack t_unpacked t_scripts t_documents t_blobs; do
    [ -n "${!t}" ] || { echo "could not time the phase boundary $t" >&2; exit 1; }
done

# --- Baselines (timed assigns b_unar, b_isql and b_loader)
echo "Running the baselines ..." >&2
b_unar='' b_isql='' b_loader=''
timed() {  # timed <var> command...: wall time of the command in seconds
    local var=$1 t
    shift
    sync
    t=$EPOCHREALTIME
    "$@"
    printf -v "$var" '%s' "$(awk -v a="$t" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"
}

timed b_unar unar -q -f -D -o "$out/unar" "$out/238.rar" >/dev/null

cp "$out/base.gdb" "$out/isql.gdb"
# The scripts in the updater's order, a COMMIT after every statement. isql-fb reads a file given
# with -i byte for byte (its standard input would drop the Windows-1251 letters).
for script in $(cd "$out/package" && ls -- *.lsql | LC_ALL=C sort -f); do
    LC_ALL=C awk '{ print; print "COMMIT;\r" }' "$out/package/$script"
done >"$out/commit-each.sql"
timed b_isql isql-fb -q -bail -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" \
    -i "$out/commit-each.sql" "$out/isql.gdb"

timed b_loader "$bin/bench_minimal_loader" "$out/isql.gdb" "$out/package" >"$out/loader.txt"
b_loader_documents=$(awk '$1 == "documents" { print $2 }' "$out/loader.txt")
b_loader_blobs=$(awk '$1 == "blobs" { print $2 }' "$out/loader.txt")

# --- The table
awk -v start="$start" -v finish="$finish" \
    -v write="$t_write" -v unpack="$t_unpack" \
    -v unpacked="$t_unpacked" -v scripts="$t_scripts" -v documents="$t_documents" \
    -v blobs="$t_blobs" -v b_unar="$b_unar" -v b_isql="$b_isql" -v b_loader="$b_loader" \
    -v b_docs="$b_loader_documents" -v b_blobs="$b_loader_blobs" \
    -v rss="$(rss_mb "$out/updater.time")" -v idle="$(rss_mb "$out/idle.time")" \
    -v archive="$(stat -c %s "$out/238.rar")" -v scale="$scale" 'BEGIN {
    total = finish - start
    w = unpack - write; u = unpacked - unpack; s = scripts - unpacked
    d = documents - scripts; b = blobs - documents
    rest = total - w - u - s - d - b
    sum = b_unar + b_isql + b_loader
    printf "Package 238 at scale %s: archive of %.1f MB\n\n", scale, archive / 1e6
    printf "%-22s %10s   %10s  %s\n", "Phase", "Updater", "Baseline", "(tool)"
    printf "%-22s %9.2fs   %10s\n", "write-out", w, "-"
    printf "%-22s %9.2fs   %9.2fs  unar\n", "unpacking", u, b_unar
    printf "%-22s %9.2fs   %9.2fs  isql-fb, COMMIT after every statement\n", "scripts", s, b_isql
    printf "%-22s %9.2fs   %9.2fs  minimal loader\n", "documents", d, b_docs
    printf "%-22s %9.2fs   %9.2fs  minimal loader\n", "blob files", b, b_blobs
    printf "%-22s %9.2fs   %9.2fs  minimal loader: attach, prepare, detach\n", \
        "start-up and the rest", rest, b_loader - b_docs - b_blobs
    printf "%-22s %9.2fs   %9.2fs  sum of the baselines\n", "total", total, sum
    printf "%-22s %8.1fMB   %8.1fMB  idle: the same updater, pre-flight only\n", \
        "peak resident memory", rss, idle
    printf "Ratio of the updater total to the sum of the baselines: %.2f\n", total / sum
}'
