#!/usr/bin/env bash
# Benchmark: the shipped archiver `rar x -o+` against bare `unar` on the same archives.
#
#   bench/rar.sh [--build DIR] [--no-build] [--rounds N] [--out DIR]
#
# Archives: package 238 at full size (tessara-demo-package: 158 entries, 57 MB) and 2,000 small
# files in 20 directories. Each round extracts every archive once with each program into a fresh
# empty directory, the order of the two programs alternating from round to round, after a sync
# so that neither inherits the other's dirty pages. Prints the medians of wall and CPU time
# (user + system, children included), the spread (min-max) and the ratio rar / unar.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
rounds=15
out=$root/bench/out-rar
build_first=1
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --no-build) build_first=''; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source "$root/scripts/lib/packages.sh"
install_missing_packages time
if [ -n "$build_first" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)" --target rar tessara-pack tessara-demo-package >/dev/null
fi
bin=$build/bin

rm -rf "$out"
mkdir -p "$out"
echo "Preparing the archives in $out ..." >&2
"$bin/tessara-demo-package" --out "$out/package" --rar "$out/238.rar" >/dev/null
rm -rf "$out/package"
for ((i = 0; i < 2000; i++)); do
    dir=$out/small/d$((i % 20))
    [ -d "$dir" ] || mkdir -p "$dir"
    head -c $((i * 7919 % 3000 + 10)) /dev/urandom >"$dir/f$i.txt"
done
"$bin/tessara-pack" --archive "$out/small" --out "$out/small.rar"
rm -rf "$out/small"

# One extraction: wall, user and system seconds on one line.
measure() {  # measure <dir> command...
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    sync
    (cd "$dir" && /usr/bin/time -f '%e %U %S' -o "$out/time" "$@" >/dev/null)
    cat "$out/time"
}

for archive in 238 small; do
    : >"$out/$archive.times"
    for ((r = 0; r < rounds; r++)); do
        unar_line=unar rar_line=rar
        if ((r % 2 == 0)); then
            unar_line+=" $(measure "$out/x" unar -q -f -D -o . "$out/$archive.rar")"
            rar_line+=" $(measure "$out/x" "$bin/rar" x -o+ "$out/$archive.rar")"
        else
            rar_line+=" $(measure "$out/x" "$bin/rar" x -o+ "$out/$archive.rar")"
            unar_line+=" $(measure "$out/x" unar -q -f -D -o . "$out/$archive.rar")"
        fi
        printf '%s\n%s\n' "$unar_line" "$rar_line" >>"$out/$archive.times"
    done
done
rm -rf "$out/x"

median() {  # median of the numbers on standard input
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
stat_of() {  # stat_of <file> <program> <wall|cpu> <median|min|max>
    local values
    values=$(awk -v p="$2" -v k="$3" '$1 == p { print (k == "wall") ? $2 : $3 + $4 }' "$1")
    case "$4" in
    median) median <<<"$values" ;;
    min) sort -g <<<"$values" | head -n 1 ;;
    max) sort -g <<<"$values" | tail -n 1 ;;
    esac
}

printf 'rar against unar, medians of %d alternating rounds (spread: min-max)\n\n' "$rounds"
printf '%-24s %-22s %-22s %s\n' "archive" "unar" "rar" "rar / unar"
for archive in 238 small; do
    f=$out/$archive.times
    name=$([ "$archive" = 238 ] && echo "package 238 (158)" || echo "2,000 small files")
    for kind in wall cpu; do
        u=$(stat_of "$f" unar $kind median) r=$(stat_of "$f" rar $kind median)
        printf '%-24s %6.3fs (%.3f-%.3f)  %6.3fs (%.3f-%.3f)  %.3f\n' "$name, $kind" \
            "$u" "$(stat_of "$f" unar $kind min)" "$(stat_of "$f" unar $kind max)" \
            "$r" "$(stat_of "$f" rar $kind min)" "$(stat_of "$f" rar $kind max)" \
            "$(awk -v a="$r" -v b="$u" 'BEGIN { print a / b }')"
    done
done
