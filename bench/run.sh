#!/usr/bin/env bash
# Benchmark: the console-mode updater installing a package into a fresh version-237 database,
# against the best existing tools doing the same work, on package 238 and on a large package.
#
#   bench/run.sh [--build DIR] [--no-build] [--scale S] [--rounds N] [--quick] [--out DIR]
#                [--packages "238 large"] [--smoke] [--report-only]
#
# Builds what it needs in DIR (default build/; --no-build takes the programs already built
# there), works in bench/out/ (or --out; replaced on every run) and prints one table per
# package; its last line is the ratio of the updater's total time to the sum of the baselines.
# --quick is one round at scale 0.1, a quick check of the figures. --smoke (for the test that
# keeps this script working) is one round at scale 0.01 with the database's forced writes off:
# its figures mean nothing. --report-only prints the tables of the run kept in the --out
# directory again, without running anything.
#
# The packages (tessara-demo-package, deterministic): "238" is package 238 (77 articles, 77 ".u"
# documents of about 56 MB, the scripts, two blob files) with an executable and a report
# template added, so that the copy phase is measured; "large" is the same with its largest
# document grown to 300 MB and its script to 50,000 statements. --scale shrinks every file and
# the statement count of the large package.
#
# Rounds: each round runs the updater and the baselines once, in alternating order (the updater
# first in odd rounds), so a disk whose speed drifts favours neither; the table shows medians and
# the spread (min-max) of the rounds. Every step starts after a sync.
#
# How the updater's phases are measured, from outside and without any change to the program:
# - Every standard output line is stamped with the time it arrives. The write-out begins when
#   "Наявність архиватора RAR...[OK]" arrives: console mode writes that line when it is marked or
#   at the latest when the next line, "Копіювання пакету", begins.
# - A poller (every 5 ms) watches the updater's child processes, the work directory and the
#   suite's directory, and records the first moment it sees each of these:
#   - the updater has a child process (the archiver): the write-out has ended, unpacking begins;
#   - the child has ended: unpacking has ended, the scripts begin;
#   - "up.99.238.l~lsql" (the version script renamed): the scripts have ended, documents begin;
#   - the last ".u" renamed to ".~u": the documents have ended, blob files begin;
#   - both ".~blo": the blob files have ended, program files begin;
#   - the executable and the template in the suite's directory: the copies have ended.
# "start-up and the rest" is what remains of the total (process start, pre-flight, work
# directory clean-up, the final line, exit). The stamped journals stay in the rounds' folders.
#
# The longest gaps come from a run of the update driver inside bench_update, as the window runs
# it, while another process writes synchronously to the same disk (dd with oflag=dsync).
#
# Baselines (the "fair best tools"): unar unpacking the same archive; isql-fb running the same
# scripts with "SET AUTODDL OFF" and a COMMIT after every statement on a fresh copy of the same
# database (with its default AUTODDL ON, isql starts a second transaction at every COMMIT);
# bench_minimal_loader storing the same document and blob files into the same rows (one
# transaction per file, 65,535-byte segments); cp copying the executable and the template. The
# write-out (the package out of the updater, its SHA-256 checked) has no baseline: the ratio
# counts it against the updater.
#
# Counts beside the wall times, per phase and for each baseline: what noise cannot move (much).
# - Page writes and syncs, from one more run of the updater and of the baselines under strace:
#   pwrite64 calls on the database file (the engine opens it with O_DSYNC when its forced writes
#   are on, so each is a synchronous page write) and fsync/fdatasync calls, each placed in its
#   phase by its time stamp against the poller's boundaries of that run.
# - Voluntary context switches and CPU time, medians of the timed rounds (tracing would add
#   both): the updater's per phase from /proc at the poller's boundaries (the switches of each
#   thread as last seen, the CPU time of the process and its reaped children; the unpacking adds
#   the archiver's switches as last seen), its total and every baseline's from time (getrusage
#   of the process and its children).
# - Per statement of the scripts phase, the updater against isql-fb with a COMMIT after every
#   statement: under one commit per statement the updater's ledger mark of each statement costs
#   about one synchronous page write more, and no exact mark comes cheaper.
#
# Also per package, from one in-process run of the update driver (bench_update): the longest
# interval between two message pumps in each phase, that is the longest the window would go
# unpainted; and the peak resident memory growth over the idle updater, both from the console
# updater (peak of the run less the peak of a start that stops after its pre-flight) and from
# the in-process run (peak less the size after the pre-flight).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
out=$root/bench/out
scale=1.0
rounds=3
packages="238 large"
build_first=1
smoke=''
report_only=''

while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --no-build) build_first=''; shift ;;
    --scale) scale=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --quick) rounds=1 scale=0.1; shift ;;
    --smoke) rounds=1 scale=0.01 smoke=1; shift ;;
    --report-only) report_only=1; shift ;;
    --out) out=$2; shift 2 ;;
    --packages) packages=$2; shift 2 ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "--rounds needs a positive number" >&2; exit 2; }

if [ -n "$report_only" ]; then
    [ -f "$out/settings" ] || { echo "no benchmark run in $out" >&2; exit 1; }
    read -r scale rounds packages <"$out/settings"
fi

source "$root/scripts/lib/packages.sh"
install_missing_packages "${BENCH_PACKAGES[@]}"
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env

if [ -n "$build_first" ] && [ -z "$report_only" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)" --target tessara-updater tessara-pack rar \
        tessara-demo-package bench_minimal_loader bench_update >/dev/null
fi
bin=$build/bin

if [ -z "$report_only" ]; then
    rm -rf "$out"
    mkdir -p "$out"
    echo "$scale $rounds $packages" >"$out/settings"
    create_demo_database "$out/base.gdb" 237
    if [ -n "$smoke" ]; then
        gfix -write async -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" "$out/base.gdb"
    fi
fi
out=$(cd "$out" && pwd)

# Every timed step starts after the dirty pages of what came before are written. A smoke run
# skips that: on a busy disk a sync can take longer than its whole work.
settle() {
    [ -n "$smoke" ] || sync
}

# A read that always times out: the poller waits without starting a process every 5 ms.
exec {never}<> <(:)
# The poller waits for a PID file that a failed start never writes: end it whatever happens.
poller=''
stop_poller() {
    [ -n "$poller" ] || return 0
    kill "$poller" 2>/dev/null || true
    wait "$poller" 2>/dev/null || true
    poller=''
}
disk_writer=''
trap 'stop_poller; stop_disk_writer' EXIT
trap 'exit 1' INT TERM HUP

# --- Preparation of one package: its files, archive, suite directory, packed updater and the
# baselines' script, in $out/<name>.
prepare_package() {
    local name=$1 dir=$out/$1 options=(--program-files)
    if [ "$name" = large ]; then
        options+=(--statements "$(awk -v s="$scale" 'BEGIN { printf "%d", 50000 * s + 0.5 }')"
            --largest-document "$(awk -v s="$scale" 'BEGIN { printf "%d", 3e8 * s + 0.5 }')")
    fi
    echo "Preparing package $name (scale $scale) ..." >&2
    mkdir -p "$dir"
    "$bin/tessara-demo-package" --scale "$scale" "${options[@]}" --out "$dir/package" \
        --rar "$dir/238.rar" >/dev/null
    make_suite "$dir/suite"
    "$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$dir/suite/tessara-updater" \
        "238=$dir/238.rar" >/dev/null
    (cd "$dir/package" && ls -- *.u | LC_ALL=C sort -f | tail -n 1) >"$dir/last_document"
    # The scripts in the updater's order, a COMMIT after every statement. isql-fb reads a file
    # given with -i byte for byte (its standard input would drop the Windows-1251 letters).
    {
        printf 'SET AUTODDL OFF;\r\n'
        for script in $(cd "$dir/package" && ls -- *.lsql | LC_ALL=C sort -f); do
            LC_ALL=C awk '{ print; print "COMMIT;\r" }' "$dir/package/$script"
        done
    } >"$dir/commit-each.sql"
}

# A suite directory without its database: lib.ini, rar and the templates' directory (the updater
# never creates it).
make_suite() {
    mkdir -p "$1/Reports"
    write_demo_ini "$1"
    cp "$bin/rar" "$1/rar"
}

# --- One run of the updater.

# The counters of process $1 that noise cannot move much, into $counters: the voluntary context
# switches of its threads (summed; a thread that has ended counts with what it had when last
# seen) and its CPU time in clock ticks, that of its reaped children included; "- -" once it
# has ended. A function, not a command substitution: the poller calls it every 5 ms while the
# archiver runs.
counters=''
declare -A thread_switches
proc_counters() {
    local pid=$1 task status value switches=0 stat fields key
    for task in "/proc/$pid/task/"*/status; do
        { status=$(<"$task"); } 2>/dev/null || continue  # read without a process of its own
        [[ $status =~ voluntary_ctxt_switches:[[:space:]]*([0-9]+) ]] || continue
        key=${task%/status}
        thread_switches[${key#/proc/}]=${BASH_REMATCH[1]}
    done
    for key in "${!thread_switches[@]}"; do
        [ "${key%%/*}" != "$pid" ] || switches=$((switches + thread_switches[$key]))
    done
    if ! read -r stat 2>/dev/null <"/proc/$pid/stat"; then
        counters='- -'
        return
    fi
    # The fields after the command name (which may hold blanks): utime, stime, cutime and
    # cstime are the 14th to the 17th of the line, the 12th to the 15th of these.
    read -r -a fields <<<"${stat##*) }"
    counters="$switches $((fields[11] + fields[12] + fields[13] + fields[14]))"
}

# Records the first moment each phase boundary is seen (see the top of this file), with the
# updater's counters at that moment, and the archiver's last counters before it ended.
poll_run() {  # poll_run <package dir>
    local dir=$1 work=$1/tmp/lib.kvr suite=$1/suite last_document
    local pid='' start='' writeout='' unpack='' unpacked='' scripts='' documents='' blobs='' programs=''
    local children list listed blob_files archiver='- -' package_files over=''
    read -r last_document <"$dir/last_document"
    # Prints "<boundary> <time> <the updater's counters>" ("- -" once it has ended).
    event() {
        local now=$EPOCHREALTIME
        proc_counters "$pid"
        echo "$1 $now $counters"
        printf -v "$1" '%s' "$now"
    }
    while [ -z "$programs" ] && [ -z "$over" ]; do
        if [ -z "$pid" ]; then
            [ -s "$dir/updater.pid" ] && read -r pid <"$dir/updater.pid"
            [ -z "$pid" ] || event start
        elif [ ! -d "/proc/$pid" ]; then
            # The updater has ended: one more look records what its last phases left (phases
            # of a few milliseconds may end between two looks), then the caller reports its
            # exit status.
            over=1
        fi
        if [ -z "$writeout" ] && [ -n "$pid" ]; then
            # The package's temporary file beside its name, or the package itself.
            package_files=("$work"/.238.rar.tmp* "$work/238.rar")
            if [ -e "${package_files[0]}" ] || [ -e "${package_files[1]}" ]; then
                event writeout
            fi
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
                event unpack
            elif [ -n "$unpack" ] && [ -z "$children" ]; then
                event unpacked
                echo "archiver - $archiver"
            fi
            if [ -n "$children" ]; then
                proc_counters "$children"
                [ "$counters" = '- -' ] || archiver=$counters
            fi
        fi
        if [ -z "$scripts" ] && [ -e "$work/up.99.238.l~lsql" ]; then
            event scripts
        fi
        if [ -z "$documents" ] && [ -e "$work/${last_document%.u}.~u" ]; then
            event documents
        fi
        if [ -z "$blobs" ] && [ -n "$documents" ]; then
            blob_files=("$work"/*.~blo)
            if [ ${#blob_files[@]} -eq 2 ] && [ -e "${blob_files[0]}" ]; then
                event blobs
            fi
        fi
        if [ -n "$blobs" ] && [ -e "$suite/tessara.exe" ] && [ -e "$suite/Reports/list.fr3" ]; then
            event programs
        fi
        read -r -t 0.005 -u "$never" || true
    done
}

stamp_lines() {
    local line
    while IFS= read -r line; do
        printf '%s\t%s\n' "$EPOCHREALTIME" "$line"
    done
}

rss_mb() { awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$1"; }

# Starts the console updater of <package dir> in a fresh copy of the suite, with the poller, the
# command given before it (a measuring wrapper) and its journal stamped in <round dir>; checks
# its exit status and the database's version after it.
launch_updater() {  # launch_updater <package dir> <round dir> <events file> wrapper...
    local dir=$1 r=$2 events=$3 rc version
    shift 3
    mkdir -p "$r"
    cp "$out/base.gdb" "$dir/suite/lib.gdb"
    rm -f "$dir/suite/tessara.exe" "$dir/suite/Reports/list.fr3" "$dir/updater.pid"
    rm -rf "$dir/tmp"
    mkdir -p "$dir/tmp"
    settle  # the run starts with no dirty pages of the preparation left to write back
    poll_run "$dir" >"$events" 2>"$events.err" &
    poller=$!
    launched=$EPOCHREALTIME
    # The shell records its PID and becomes the updater (exec keeps the PID), so the poller can
    # watch the updater's children; the wrapper measures that one process.
    set +e
    TMPDIR=$dir/tmp "$@" sh -c 'echo $$ >"$1"; exec "$2" --console' sh "$dir/updater.pid" \
        "$dir/suite/tessara-updater" 2>"$r/updater.err" | stamp_lines >"$r/journal.tsv"
    rc=${PIPESTATUS[0]}
    set -e
    ended=$EPOCHREALTIME
    # A poller that has seen the updater ends by itself after one more look at the files (the
    # last phases may be shorter than its interval); one that never saw it is stopped.
    if [ -s "$dir/updater.pid" ]; then
        wait "$poller" || true
        poller=''
    fi
    stop_poller
    if [ "$rc" -ne 0 ]; then
        echo "the updater ended with exit status $rc:" >&2
        cut -f2 "$r/journal.tsv" >&2
        cat "$r/updater.err" >&2
        exit 1
    fi
    version=$(demo_sql_values "$dir/suite/lib.gdb" "select data from versions")
    [ "$version" = 238 ] || { echo "database version after the run: $version" >&2; exit 1; }
}

run_updater() {  # run_updater <package dir> <round>
    local dir=$1 round=$2 r=$1/round$2 launched ended
    launch_updater "$dir" "$r" "$r/events" /usr/bin/time -v -o "$r/updater.time"

    # Idle size: the same program and database, pre-flight only (nothing left to install).
    TMPDIR=$dir/tmp /usr/bin/time -v -o "$r/idle.time" "$dir/suite/tessara-updater" --console \
        >/dev/null 2>&1 || true

    local write
    write=$(awk -F'\t' 'index($2, "Наявність архиватора RAR") == 1 { print $1; exit }' \
        "$r/journal.tsv")
    awk -v round="$round" -v start="$launched" -v finish="$ended" -v write="$write" \
        -v rss="$(rss_mb "$r/updater.time")" -v idle="$(rss_mb "$r/idle.time")" '
        { t[$1] = $2 }
        END {
            split("unpack unpacked scripts documents blobs programs", names, " ")
            for (i = 1; i <= 6; ++i) {
                if (!(names[i] in t)) {
                    print "could not time the phase boundary " names[i] > "/dev/stderr"
                    exit 1
                }
            }
            if (write == "") {
                print "could not time the start of the write-out" > "/dev/stderr"
                exit 1
            }
            total = finish - start
            w = t["unpack"] - write; u = t["unpacked"] - t["unpack"]
            s = t["scripts"] - t["unpacked"]; d = t["documents"] - t["scripts"]
            b = t["blobs"] - t["documents"]; p = t["programs"] - t["blobs"]
            printf "%d %.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f %s %s\n", round, w, u, s, d, b, p,
                total - w - u - s - d - b - p, total, rss, idle
        }' "$r/events" >>"$dir/updater.tsv"

    # The counters per phase (each phase from the poller's sight of its first boundary to
    # that of the next; the unpacking with the archiver's own switches), the rest and the
    # whole process with its children from time: round, then switches and CPU seconds of
    # write-out, unpacking, scripts, documents, blob files, program files, the rest, the total.
    awk -v round="$round" -v tick="$(getconf CLK_TCK)" \
        -v total_switches="$(awk -F': ' '/Voluntary context switches/ { print $2 }' "$r/updater.time")" \
        -v total_cpu="$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { print u + s }' "$r/updater.time")" '
        $1 == "archiver" { archiver_switches = $3; next }
        { switches[$1] = $3; ticks[$1] = $4 }
        END {
            split("writeout unpack unpacked scripts documents blobs programs", b, " ")
            # A boundary seen after the updater ended has its last counters: its phase counts
            # nothing more, the rest takes what remains.
            for (i = 2; i <= 7; ++i) {
                if (switches[b[i]] == "-") { switches[b[i]] = switches[b[i - 1]]; ticks[b[i]] = ticks[b[i - 1]] }
            }
            printf "%d", round
            for (i = 1; i < 7; ++i) {
                sw = switches[b[i + 1]] - switches[b[i]] + (i == 2 ? archiver_switches : 0)
                cpu = (ticks[b[i + 1]] - ticks[b[i]]) / tick
                sum_sw += sw; sum_cpu += cpu
                printf " %d %.2f", sw, cpu
            }
            printf " %d %.2f %d %.2f\n", total_switches - sum_sw, total_cpu - sum_cpu,
                total_switches, total_cpu
        }' "$r/events" >>"$dir/updater_counts.tsv"
}

# The calls that noise cannot move, counted by strace: the database's page writes (pwrite64 on a
# ".gdb" file, synchronous with forced writes: the engine opens it with O_DSYNC) and the fsync
# and fdatasync calls, each stamped, in the trace file given. Tracing stops the process at each
# of these calls, which adds context switches and time: those come from the timed rounds.
traced() {  # traced <trace file> command...
    local trace=$1
    shift
    strace -f -qq -ttt -y -s 0 --seccomp-bpf -e trace=pwrite64,fsync,fdatasync -e signal=none \
        -o "$trace" "$@"
}

# Counts the trace's page writes and syncs in the intervals between the given times
# (ascending; "-" for an open end): "<page writes> <syncs>" per interval, one line each.
count_calls() {  # count_calls <trace file> time...
    awk -v bounds="${*:2}" '
        BEGIN { n = split(bounds, t, " ") - 1 }
        {
            kind = $3 ~ /^pwrite64\(/ && $3 ~ /\.gdb>/ ? "w" : $3 ~ /^f(data)?sync\(/ ? "s" : ""
            if (kind == "") next
            for (i = 1; i <= n; ++i) {
                if ((t[i] == "-" || $2 >= t[i]) && (t[i + 1] == "-" || $2 < t[i + 1])) {
                    c[kind, i]++
                    break
                }
            }
        }
        END { for (i = 1; i <= n; ++i) printf "%d %d\n", c["w", i], c["s", i] }' "$1"
}

# The updater once more, under strace (see traced), its calls counted per phase into
# <package dir>/updater_calls: "<phase> <page writes> <syncs>".
count_updater() {  # count_updater <package dir>
    local dir=$1 r=$1/counted launched ended
    launch_updater "$dir" "$r" "$r/events" traced "$r/updater.trace"
    local -A at
    local name time rest
    while read -r name time rest; do at[$name]=$time; done <"$r/events"
    {
        count_calls "$r/updater.trace" - "${at[writeout]:?}" "${at[unpack]:?}" "${at[unpacked]:?}" \
            "${at[scripts]:?}" "${at[documents]:?}" "${at[blobs]:?}" "${at[programs]:?}" - |
            paste -d' ' <(printf '%s\n' start-up write-out unpacking scripts documents blobs \
                program-files rest) -
        count_calls "$r/updater.trace" - - | sed 's/^/total /'
    } >"$dir/updater_calls"
}

# --- One run of the baselines.

# Runs the baselines of <package dir> in their order, each behind `measure`, a function that
# takes the step's name and then its command.
baseline_steps() {  # baseline_steps <package dir> <round dir> <measure>
    local dir=$1 r=$2 measure=$3
    rm -rf "$dir/unar"
    "$measure" unar unar -q -f -D -o "$dir/unar" "$dir/238.rar" >/dev/null
    cp "$out/base.gdb" "$dir/isql.gdb"
    "$measure" isql isql-fb -q -bail -user "$DEMO_DB_USER" -password "$DEMO_DB_PASSWORD" \
        -i "$dir/commit-each.sql" "$dir/isql.gdb"
    "$measure" loader "$bin/bench_minimal_loader" "$dir/isql.gdb" "$dir/package" >"$r/loader.txt"
    rm -rf "$dir/cp"
    mkdir -p "$dir/cp/Reports"
    # One cp for both files, each to its place under cp/.
    (cd "$dir/package" && "$measure" cp cp --parents tessara.exe Reports/list.fr3 "$dir/cp/")
}

# A timed step: its wall time in seconds appended to $step_times, its voluntary context
# switches and user and system CPU seconds (from time) to $step_counts.
timed() {  # timed <name> command...
    local t
    shift
    settle
    t=$EPOCHREALTIME
    /usr/bin/time -f '%w %U %S' -a -o "$step_counts" "$@"
    awk -v a="$t" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }' >>"$step_times"
}

run_baselines() {  # run_baselines <package dir> <round>
    local dir=$1 round=$2 r=$1/round$2
    local step_times=$r/baseline.times step_counts=$r/baseline.counts
    mkdir -p "$r"
    : >"$step_times"
    : >"$step_counts"
    baseline_steps "$dir" "$r" timed
    # round, unar, isql, loader (whole), its documents and blob files, cp
    awk -v round="$round" -v loader="$r/loader.txt" '
        { v[NR] = $1 }
        END {
            while ((getline line < loader) > 0) {
                split(line, f, " ")
                part[f[1]] = f[2]
            }
            printf "%d %s %s %s %.4f %.4f %s\n", round, v[1], v[2], v[3], part["documents"],
                part["blobs"], v[4]
        }' "$step_times" >>"$dir/baselines.tsv"
    # round, then switches and CPU seconds of unar, isql, the loader, cp
    awk -v round="$round" '
        { line = line sprintf(" %d %.2f", $1, $2 + $3) }
        END { print round line }' "$step_counts" >>"$dir/baseline_counts.tsv"
}

# A traced step (see traced): its page writes and syncs to $step_calls as "<name> <writes>
# <syncs>".
traced_step() {  # traced_step <name> command...
    local name=$1
    shift
    traced "$trace_dir/$name.trace" "$@"
    echo "$name $(count_calls "$trace_dir/$name.trace" - -)" >>"$step_calls"
}

count_baselines() {  # count_baselines <package dir>
    local dir=$1 trace_dir=$1/counted step_calls=$1/baseline_calls
    mkdir -p "$trace_dir"
    : >"$step_calls"
    baseline_steps "$dir" "$trace_dir" traced_step
}

# --- The in-process run for the event-loop gaps.

# Another process writing to the same disk all the while, as on a shared machine: synchronous
# 64 KB writes, each of which makes the disk flush, so that the updater's own flushes wait.
start_disk_writer() {  # start_disk_writer <file>
    local file=$1
    (
        while :; do
            dd if=/dev/zero of="$file" bs=64k count=64 oflag=dsync conv=notrunc status=none
        done
    ) &
    disk_writer=$!
}

stop_disk_writer() {
    [ -n "${disk_writer:-}" ] || return 0
    kill "$disk_writer" 2>/dev/null || true
    wait "$disk_writer" 2>/dev/null || true
    disk_writer=
}

run_in_process() {  # run_in_process <package dir>
    local dir=$1 suite=$1/inprocess rc=0
    rm -rf "$suite" "$dir/tmp"
    make_suite "$suite"
    cp "$out/base.gdb" "$suite/lib.gdb"
    mkdir -p "$dir/tmp"
    settle
    start_disk_writer "$dir/disk-writer.bin"
    "$bin/bench_update" "$suite" "$dir/suite/tessara-updater" "$dir/tmp" >"$dir/inprocess.txt" ||
        rc=$?
    stop_disk_writer
    rm -f "$dir/disk-writer.bin"
    return $rc
}

# --- The table of one package.

report() {  # report <name>
    local name=$1 dir=$out/$1 statements documents
    statements=$(cat "$dir/package/"*.lsql | grep -c ';' || true)
    documents=$(find "$dir/package" -maxdepth 1 \( -name '*.u' -o -name '*.r' \) | wc -l)
    awk -v name="$name" -v scale="$scale" -v rounds="$rounds" \
        -v archive="$(stat -c %s "$dir/238.rar")" -v statements="$statements" \
        -v documents="$documents" -v inprocess="$dir/inprocess.txt" \
        -v baselines="$dir/baselines.tsv" -v summary="$out/summary" '
        function median(list, n,    a, i, j, t) {
            n = split(list, a, " ")
            for (i = 2; i <= n; ++i) {  # insertion sort: a handful of rounds
                t = a[i]
                for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; --j) a[j + 1] = a[j]
                a[j + 1] = t
            }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        function extreme(list, most,    a, i, n, v) {
            n = split(list, a, " ")
            v = a[1]
            for (i = 2; i <= n; ++i) if (most ? a[i] + 0 > v + 0 : a[i] + 0 < v + 0) v = a[i]
            return v
        }
        function cell(list) {
            if (list == "") return "-"
            return sprintf("%7.2fs (%.2f-%.2f)", median(list), extreme(list, 0), extreme(list, 1))
        }
        function add(key, value) { col[key] = col[key] (col[key] == "" ? "" : " ") value }
        function gap(phase) { return phase in gaps ? sprintf("%8.3fs", gaps[phase]) : sprintf("%9s", "-") }
        function row(title, up, base, g, tool,    ratio) {
            ratio = base == "" ? "-" : sprintf("%.2f", median(up) / median(base))
            printf "%-22s %-25s %-25s %5s %s  %s\n", title, cell(up), cell(base), ratio, g, tool
        }
        # The updater: round w u s d b p rest total rss idle
        {
            add("w", $2); add("u", $3); add("s", $4); add("d", $5); add("b", $6); add("p", $7)
            add("rest", $8); add("total", $9); add("growth", $10 - $11); add("idle", $11)
            round_total[$1] = $9
        }
        END {
            # The baselines: round unar isql loader documents blobs cp
            while ((getline line < baselines) > 0) {
                split(line, f, " ")
                add("bu", f[2]); add("bs", f[3]); add("bd", f[5]); add("bb", f[6]); add("bp", f[7])
                add("brest", f[4] - f[5] - f[6])
                sum = f[2] + f[3] + f[4] + f[7]
                add("bsum", sum)
                ratios = ratios sprintf(" %.2f", round_total[f[1]] / sum)
            }
            while ((getline line < inprocess) > 0) {
                n = split(line, f, " ")
                if (f[1] == "gap") gaps[f[2]] = f[3]
                if (f[1] == "rss") {
                    inrss = f[4]
                    note = n > 4 ? ", a lower bound" : ""
                }
            }
            rest_gap = ("end-of-run" in gaps) ? gaps["end-of-run"] : 0
            if ("start" in gaps && gaps["start"] > rest_gap) rest_gap = gaps["start"]
            gaps["rest"] = rest_gap

            printf "Package %s at scale %s: archive of %.1f MB, %d statements, %d documents\n", \
                name, scale, archive / 1e6, statements, documents
            printf "Medians of %d round%s, the updater and the baselines alternating (spread: min-max);\n", \
                rounds, rounds == 1 ? "" : "s"
            printf "longest gap: the longest interval between two message pumps, in-process run\n\n"
            printf "%-22s %-25s %-25s %5s %9s  %s\n", "Phase", "Updater", "Baseline", "Ratio", \
                "Long. gap", "Baseline tool"
            printf "%-22s %-25s %-25s %5s %s  %s\n", "pre-flight", "  (in start-up)", "", "", \
                gap("pre-flight"), "(before the button: connect, version, packages)"
            row("write-out", col["w"], "", gap("write-out"), "none")
            row("unpacking", col["u"], col["bu"], gap("unpacking"), "unar")
            row("scripts", col["s"], col["bs"], gap("scripts"),
                "isql-fb, SET AUTODDL OFF, COMMIT after every statement")
            row("documents", col["d"], col["bd"], gap("documents"), "minimal loader")
            row("blob files", col["b"], col["bb"], gap("blob-files"), "minimal loader")
            row("program files", col["p"], col["bp"], gap("program-files"), "cp")
            row("start-up and the rest", col["rest"], col["brest"], gap("rest"),
                "minimal loader: attach, prepare, detach")
            row("total", col["total"], col["bsum"], sprintf("%9s", ""), "sum of the baselines")
            printf "Peak RSS growth over the idle updater: %.1f MB (console updater, median; idle peak %.1f MB), %.1f MB (in-process run%s)\n", \
                median(col["growth"]), median(col["idle"]), inrss, note
            total_ratio = median(col["total"]) / median(col["bsum"])
            printf "Ratio of the updater total to the sum of the baselines: %.2f (rounds:%s)\n\n", \
                total_ratio, ratios

            # For the goals and the last line.
            max_gap = 0
            max_phase = "-"
            for (p in gaps) if (p != "pre-flight" && gaps[p] > max_gap) { max_gap = gaps[p]; max_phase = p }
            growth = median(col["growth"])
            if (inrss + 0 > growth) growth = inrss + 0
            printf "%s %.2f %.2f %.3f %s %.1f %s\n", name, total_ratio,
                median(col["s"]) / median(col["bs"]), max_gap, max_phase, growth,
                gaps["pre-flight"] >> summary
        }' "$dir/updater.tsv"
}

# --- The counts of one package: what noise cannot move, per phase and per statement.
report_counts() {  # report_counts <name>
    local name=$1 dir=$out/$1 statements
    statements=$(cat "$dir/package/"*.lsql | grep -c ';' || true)
    awk -v statements="$statements" -v rounds="$rounds" -v baselines="$dir/baseline_counts.tsv" \
        -v calls="$dir/updater_calls" -v base_calls="$dir/baseline_calls" \
        -v summary="$out/counts_summary" -v name="$name" '
        function median(list, n,    a, i, j, t) {
            n = split(list, a, " ")
            for (i = 2; i <= n; ++i) {
                t = a[i]
                for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; --j) a[j + 1] = a[j]
                a[j + 1] = t
            }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        function add(key, value) { col[key] = col[key] (col[key] == "" ? "" : " ") value }
        function side(w, s, sw, cpu) {
            return sprintf("%8s %6s %9s %7s", w, s, sw, cpu == "" ? "" : sprintf("%.2f", cpu))
        }
        function row(title, phase, tool, bw, bs, bsw, bcpu) {
            printf "%-22s %s | %s  %s\n", title,
                side(pw[phase], ps[phase], median(col[phase "_sw"]), median(col[phase "_cpu"])),
                side(bw, bs, bsw, bcpu), tool
        }
        # The updater: round, then switches and CPU of each phase, the rest and the total.
        {
            split("write-out unpacking scripts documents blobs program-files rest total", phases, " ")
            for (i = 1; i <= 8; ++i) {
                add(phases[i] "_sw", $(2 * i)); add(phases[i] "_cpu", $(2 * i + 1))
            }
        }
        END {
            while ((getline line < baselines) > 0) {
                split(line, f, " ")
                add("unar_sw", f[2]); add("unar_cpu", f[3]); add("isql_sw", f[4]); add("isql_cpu", f[5])
                add("loader_sw", f[6]); add("loader_cpu", f[7]); add("cp_sw", f[8]); add("cp_cpu", f[9])
            }
            while ((getline line < calls) > 0) {
                split(line, f, " ")
                pw[f[1]] = f[2]; ps[f[1]] = f[3]
            }
            # The pre-flight before the write-out and the end after the copies are one row.
            pw["rest"] += pw["start-up"]; ps["rest"] += ps["start-up"]
            while ((getline line < base_calls) > 0) {
                split(line, f, " ")
                bw[f[1]] = f[2]; bs[f[1]] = f[3]
            }
            for (t in bw) { bw_sum += bw[t]; bs_sum += bs[t] }
            printf "Counts of package %s: page writes (pwrite64 on the database; synchronous with forced writes) and\n", name
            printf "syncs (fsync, fdatasync) of one run under strace; voluntary context switches and CPU seconds,\n"
            printf "medians of the timed rounds (the unpacking with the archiver, the total with every child)\n\n"
            head = sprintf("%8s %6s %9s %7s", "writes", "syncs", "switches", "CPU s")
            printf "%-22s %-32s | %-32s\n", "", "Updater", "Baseline"
            printf "%-22s %s | %s  %s\n", "Phase", head, head, "Baseline tool"
            row("write-out", "write-out", "none")
            row("unpacking", "unpacking", "unar", bw["unar"], bs["unar"], median(col["unar_sw"]),
                median(col["unar_cpu"]))
            row("scripts", "scripts", "isql-fb, COMMIT after every statement", bw["isql"], bs["isql"],
                median(col["isql_sw"]), median(col["isql_cpu"]))
            row("documents", "documents", "minimal loader (documents and blob files)", bw["loader"],
                bs["loader"], median(col["loader_sw"]), median(col["loader_cpu"]))
            row("blob files", "blobs", "(in the row above)")
            row("program files", "program-files", "cp", bw["cp"], bs["cp"], median(col["cp_sw"]),
                median(col["cp_cpu"]))
            row("start-up and the rest", "rest", "")
            sw_sum = median(col["unar_sw"]) + median(col["isql_sw"]) + median(col["loader_sw"]) + median(col["cp_sw"])
            cpu_sum = median(col["unar_cpu"]) + median(col["isql_cpu"]) + median(col["loader_cpu"]) + median(col["cp_cpu"])
            row("total", "total", "sum of the baselines", bw_sum, bs_sum, sw_sum, cpu_sum)

            n = statements > 0 ? statements : 1
            uw = pw["scripts"] / n; iw = bw["isql"] / n
            usw = median(col["scripts_sw"]) / n; isw = median(col["isql_sw"]) / n
            ucpu = median(col["scripts_cpu"]) * 1000 / n; icpu = median(col["isql_cpu"]) * 1000 / n
            switch_ratio = isw > 0 ? usw / isw : 0
            cpu_ratio = icpu > 0 ? ucpu / icpu : 0
            printf "Per statement (scripts, %d statements): updater %.2f page writes, %.2f syncs, %.2f switches, %.3f ms CPU;\n", \
                statements, uw, ps["scripts"] / n, usw, ucpu
            printf "  isql-fb commit-each %.2f page writes, %.2f syncs, %.2f switches, %.3f ms CPU;\n", \
                iw, bs["isql"] / n, isw, icpu
            printf "  the updater above isql: %+.2f page writes per statement (the ledger mark: floor about +1), %.2fx the switches, %.2fx the CPU\n\n", \
                uw - iw, switch_ratio, cpu_ratio
            printf "%s %.2f %.2f %.2f %.2f\n", name, uw - iw, switch_ratio, uw, iw >> summary
        }' "$dir/updater_counts.tsv"
}

for name in $packages; do
    [ -n "$report_only" ] || prepare_package "$name"
done
for name in $packages; do
    [ -z "$report_only" ] || break
    for ((round = 1; round <= rounds; round++)); do
        echo "Package $name, round $round of $rounds ..." >&2
        if ((round % 2 == 1)); then
            run_updater "$out/$name" "$round"
            run_baselines "$out/$name" "$round"
        else
            run_baselines "$out/$name" "$round"
            run_updater "$out/$name" "$round"
        fi
    done
    echo "Package $name, counting run under strace ..." >&2
    count_updater "$out/$name"
    count_baselines "$out/$name"
    echo "Package $name, in-process run for the event-loop gaps ..." >&2
    run_in_process "$out/$name"
done

: >"$out/summary"
: >"$out/counts_summary"
for name in $packages; do
    report "$name"
    report_counts "$name"
done
awk -v counts="$out/counts_summary" '
    FILENAME == counts {  # the counts: name, page writes per statement above isql, switches ratio
        per_statement[$1] = sprintf("    per statement: %+.2f page writes above isql commit-each (goal: the ledger mark, <= +1), %.2fx its voluntary switches (goal <= 1.35)\n", $2, $3)
        next
    }
    {
        total = total sprintf("%s %s %.2f", sep, $1 == "238" ? "package 238" : "the large package", $2)
        goals = goals sprintf("  %s: total %.2f x the baselines (goal <= 1.0), scripts %.2f x isql (goal <= 1.0),\n", $1, $2, $3)
        goals = goals sprintf("    longest gap %.3f s in %s (goal <= 0.1 s; pre-flight %.3f s), RSS growth %.1f MB (goal <= 16 MB)\n", $4, $5, $7, $6)
        goals = goals per_statement[$1]
        sep = ","
    }
    END {
        printf "Goals (figures of this run):\n%s", goals
        printf "Ratio of the updater total to the sum of the fair baselines:%s\n", total
    }' "$out/counts_summary" "$out/summary"
