#!/usr/bin/env bash
# Too little space for the snapshot: the database on a small file system of its own (a tmpfs of
# 3 MB, which needs root), where the database fits and a backup of its size does not. The run
# refuses with exit status 2 and changes nothing; --no-snapshot then installs.
#
#   snapshot_space_test.sh <bin>
set -euo pipefail

bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/demo_suite.sh"
demo_firebird_env

work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-snapshot-space-test.XXXXXX")
small=$work/small
mounted=
cleanup() {
    [ -n "$mounted" ] && umount "$small" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

fail() {
    echo "FAIL: $*" >&2
    for f in "$work/stdout" "$work/stderr"; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}
expect_eq() { [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"; }

mkdir -p "$small" "$work/suite" "$work/tmp"
if ! mount -t tmpfs -o size=3m "tessara-snapshot-space-$$" "$small" 2>"$work/mount.err"; then
    echo "SKIP: a tmpfs cannot be mounted here: $(cat "$work/mount.err")"
    exit 0
fi
mounted=1

suite=$work/suite
"$bin/tessara-demo-package" --scale 0.01 --seed 77 --out "$work/package" >/dev/null
"$bin/tessara-pack" --updater "$bin/tessara-updater" --out "$suite/tessara-updater" \
    "238=$work/package" >/dev/null
cp "$bin/rar" "$suite/rar"
database=$small/lib.gdb
create_demo_database "$database" 237
printf '[Common]\r\nTypeServer=0\r\nPathBaseGDB=%s\r\n' "$database" >"$suite/lib.ini"
# The database (1.8 MB) fits; what is left is less than a backup of its size.
size=$(stat -c %s "$database")
free=$(($(stat -f -c '%a * %S' "$small")))
[ "$free" -lt "$size" ] || fail "the tmpfs leaves $free bytes for a database of $size"

before=$("$bin/database_dump" "$database")
rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console >"$work/stdout" 2>"$work/stderr" || rc=$?
expect_eq "exit status" 2 "$rc"
grep -q "^Недостатньо місця для знімка перед оновленням у $small: потрібно [0-9]* МБ, вільно [0-9]* МБ" "$work/stderr" ||
    fail "no refusal naming the space"
expect_eq "database after the refusal" "$before" "$("$bin/database_dump" "$database")"
expect_eq "files on the small file system" "lib.gdb" "$(ls -A "$small")"
expect_eq "snapshots" "" "$(ls -A "$suite/tessara-updater-snapshots" 2>/dev/null || true)"

rc=0
TMPDIR=$work/tmp "$suite/tessara-updater" --console --no-snapshot >"$work/stdout" \
    2>"$work/stderr" || rc=$?
expect_eq "exit status with --no-snapshot" 0 "$rc"
expect_eq "snapshots after --no-snapshot" "" \
    "$(ls -A "$suite/tessara-updater-snapshots" 2>/dev/null || true)"
expect_eq "files on the small file system after --no-snapshot" "lib.gdb" "$(ls -A "$small")"
echo "PASS"
