#!/usr/bin/env bash
# The updater as it ships, packed with its packages, read by binutils as a developer reads a crash
# address: objdump reads its headers and sections, its debug link names the .debug file beside
# the build with that file's CRC, and gdb's way to it (the link's section by its long name, which
# the COFF string table holds) works on the packed file as on the built one.
#
#   ShippedUpdaterTest.sh BIN_DIR
# ctest runs it in the Wine session of scripts/test_windows.sh (WINEPREFIX, DISPLAY).
set -euo pipefail
bin=$1
[ -n "${WINEPREFIX:-}" ] || { echo "FAIL: no WINEPREFIX: run it through scripts/test_windows.sh" >&2; exit 1; }
objdump=x86_64-w64-mingw32-objdump
objcopy=x86_64-w64-mingw32-objcopy
for tool in wine winepath "$objdump" "$objcopy" python3; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-shipped.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

mkdir 238
printf 'update versions set data = 238;\r\n' >238/up.99.238.lsql
head -c 300000 /dev/urandom >238/tessara.exe
wine "$bin/tessara-pack.exe" --updater "$(winepath -w "$bin/tessara-updater.exe")" \
    --out "$(winepath -w packed.exe)" 238="$(winepath -w 238)" >pack.out 2>&1 ||
    fail "packing: $(cat pack.out)"

# The debug link: the .debug file's name, padding to 4 bytes, and its CRC-32.
debuglink_of() {
    "$objcopy" --dump-section .gnu_debuglink="$2" "$1" "$2.copy" 2>"$2.err" ||
        fail "no .gnu_debuglink section in $1: $(cat "$2.err")"
    python3 - "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
name = data[:data.index(b'\0')].decode()
print(name, '%08x' % struct.unpack('<I', data[-4:])[0])
PY
}

for program in "$bin/tessara-updater.exe" packed.exe; do
    "$objdump" -p "$program" >"$work/headers" 2>"$work/headers.err" ||
        fail "objdump -p cannot read $program: $(cat "$work/headers.err")"
    [ ! -s "$work/headers.err" ] || fail "objdump -p complains about $program: $(cat "$work/headers.err")"
    grep -q 'file format pei-x86-64' "$work/headers" || fail "$program is no PE program to objdump"
    "$objdump" -h "$program" >"$work/sections" 2>&1 || fail "objdump -h cannot read $program"
    grep -q ' \.gnu_debuglink ' "$work/sections" || fail "$program shows no .gnu_debuglink section: $(cat "$work/sections")"
    grep -q ' \.rsrc ' "$work/sections" || fail "$program shows no resources"
done

read -r name crc < <(debuglink_of packed.exe link.bin)
[ "$name" = tessara-updater.exe.debug ] || fail "the packed updater links to '$name'"
[ -f "$bin/$name" ] || fail "no $name beside the build"
expected=$(python3 -c "import sys, zlib; print('%08x' % zlib.crc32(open(sys.argv[1], 'rb').read()))" "$bin/$name")
[ "$crc" = "$expected" ] || fail "the debug link's CRC $crc is not that of $name ($expected)"
[ "$(debuglink_of "$bin/tessara-updater.exe" built.bin)" = "$name $crc" ] ||
    fail "the packed updater links elsewhere than the built one"
echo "packed updater: objdump reads it, its debug link is $name with CRC $crc"
