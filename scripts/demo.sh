#!/usr/bin/env bash
# The main job on a fresh machine: builds everything, makes a demo suite directory with a
# version-237 database, generates package 238 at full size, packs it into a copy of the updater
# and runs that copy: in its window when a display is available, otherwise in console mode.
#
#   scripts/demo.sh [--dir DIR] [--console] [--scale S]
#
# DIR (or $DEMO_DIR) defaults to demo/ in the checkout and is replaced on every run.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)

suite=${DEMO_DIR:-$checkout/demo}
console=
scale=1.0
while [ $# -gt 0 ]; do
    case "$1" in
    --dir) suite=$2; shift 2 ;;
    --console) console=1; shift ;;
    --scale) scale=$2; shift 2 ;;
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
install_missing_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
bin=$checkout/build/bin

source scripts/lib/demo_suite.sh
demo_firebird_env

# The directory is deleted and made again; refuse anything that is not an earlier demo suite.
if [ -d "$suite" ] && [ -n "$(ls -A "$suite")" ] && [ ! -f "$suite/lib.ini" ]; then
    echo "$suite is not empty and holds no lib.ini: not a demo suite, not replacing it" >&2
    exit 1
fi
echo "== Demo suite in $suite (database at version 237)"
make_demo_suite "$suite" "$bin" 237
suite=$(cd "$suite" && pwd)

packages=$(mktemp -d)
trap 'rm -rf "$packages"' EXIT
echo "== Package 238 (scale $scale)"
"$bin/tessara-demo-package" --scale "$scale" --out "$packages/238"
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$packages/238"
rm -rf "$packages/238"

rc=0
if [ -n "${DISPLAY:-}" ] && [ -z "$console" ]; then
    echo "== Running $suite/tessara-updater in its window (press «Оновить», then «Зачинити»)"
    "$suite/tessara-updater" || rc=$?
else
    echo "== Running $suite/tessara-updater --console"
    "$suite/tessara-updater" --console || rc=$?
fi

temp=${TMPDIR:-/tmp}
work=${temp%/}/lib.kvr
version=$(demo_sql_values "$suite/lib.gdb" "select data from versions" 2>&1 || true)
echo
echo "Database:         $suite/lib.gdb (version now $version)"
echo "Work directory:   $work"
logs=$(find "$work" -maxdepth 1 -name '*.log' 2>/dev/null || true)
if [ -n "$logs" ]; then
    echo "Update logs:"
    echo "$logs" | sed 's/^/                  /'
else
    echo "Update logs:      none (no statement or file failed)"
fi
echo "Look inside:      isql-fb -user SYSDBA $suite/lib.gdb"
exit "$rc"
