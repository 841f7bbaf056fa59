#!/usr/bin/env bash
# Builds Firebird 3's embedded engine for 64-bit Windows from Debian's own firebird3.0 and icu
# source packages, with the mingw-w64 cross compiler, as the folder a Windows suite keeps beside
# its fbclient.dll: the test client of scripts/fbclient/build.sh (the same source version: the
# engine links against it), firebird.msg, ICU (icuuc, icuin, icudt), plugins/engine12.dll and
# intl/fbintl.dll with its fbintl.conf. It stands in for the suite's own engine files in the
# Windows tests under Wine and is never shipped or packed.
#
#   scripts/fbengine/build.sh     prints the folder's path as its last line
#
# The folder is cached outside the clone, in ${TESSARA_CACHE_DIR:-/var/cache/tessara-updater}/
# engine-<firebird version>-icu<icu version>-<recipe>/, the recipe a digest of this script, its
# patches and the client's recipe: a machine builds it once (about 6 minutes on 2 idle cores
# besides the client), later runs only look it up. The engine is compiled at -O1 and ICU at -O0:
# they only have to run the tests, and that halves the compile time.
#
# As for the client, Firebird's make files are bypassed: the files of the Windows projects
# engine, alice, burp and intl are compiled directly, their generated inputs made first by native
# tools (cloop, btyacc, m4, Debian's gpre). ICU is compiled from its own source lists without its
# build system; its data are the data section of Debian's libicudata, the same ICU version.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
client_build=$here/../fbclient/build.sh
cache=${TESSARA_CACHE_DIR:-/var/cache/tessara-updater}
target=x86_64-w64-mingw32
cxx=$target-g++-posix
cc=$target-gcc-posix
jobs=$(nproc)

say() { echo "engine: $*" >&2; }
die() {
    say "$*"
    exit 1
}

# --- What it needs besides the client's tools (scripts/lib/packages.sh installs it for the tests)
for tool in "$cxx:mingw-w64" "$target-as:mingw-w64" "$target-objdump:mingw-w64" \
    objcopy:binutils m4:m4 gpre:firebird-dev isql-fb:firebird3.0-utils; do
    command -v "${tool%%:*}" >/dev/null || die "${tool%%:*} is missing (package ${tool#*:})"
done
firebird_lib=/usr/lib/x86_64-linux-gnu/firebird/3.0
for file in "$firebird_lib/firebird.msg:libfbclient2" \
    "$firebird_lib/intl/fbintl.conf:firebird3.0-server-core"; do
    [ -f "${file%%:*}" ] || die "${file%%:*} is missing (package ${file#*:})"
done

version=$(dpkg-query -W -f '${source:Version}' firebird-dev 2>/dev/null) ||
    die "firebird-dev is not installed: its version chooses the source"
tommath_version=$(dpkg-query -W -f '${source:Version}' libtommath1 2>/dev/null) ||
    die "libtommath1 is not installed: its version chooses the source"
icu_version=$(dpkg-query -W -f '${source:Version}' libicu72 2>/dev/null) ||
    die "libicu72 is not installed: its data and version choose the ICU source"
icu_major=${icu_version%%.*}
icu_data=/usr/lib/x86_64-linux-gnu/libicudata.so.$icu_major
[ -f "$icu_data" ] || die "$icu_data is missing (package libicu$icu_major)"
# The client's recipe is part of this one: the engine links against that very client.
recipe=$(cat "$0" "$here"/*.patch "$client_build" "$(dirname "$client_build")"/*.patch |
    sha256sum | cut -c1-12)
out=$cache/engine-$version-icu$icu_version-$recipe
engine=$out/plugins/engine12.dll

if [ -f "$engine" ]; then
    echo "$out"
    exit 0
fi

# One build at a time on the machine: a second run waits for the first and then finds its folder.
exec 8>"$cache/engine.lock"
flock 8
if [ -f "$engine" ]; then
    echo "$out"
    exit 0
fi
rm -rf "$cache"/engine-build.*
work=$(mktemp -d "$cache/engine-build.XXXXXX")
finish() {
    local status=$?
    if [ "$status" -eq 0 ]; then
        rm -rf "$work"
    else
        say "the failed build is kept in $work"
    fi
}
trap finish EXIT
say "building the engine from firebird3.0 $version and icu $icu_version in $work"
started=$SECONDS

# --- The sources, through the deb-src entries that the client's build adds when apt lacks them
# grep reads all of apt-cache's output: a grep -q that stops early would fail the pipe.
has_source() {
    apt-cache showsrc "$1" 2>/dev/null | grep -x "Version: $2" >/dev/null
}
if ! has_source firebird3.0 "$version" || ! has_source icu "$icu_version"; then
    "$client_build" >/dev/null || die "the test client did not build"
fi
has_source icu "$icu_version" || die "no source package icu $icu_version known to apt"
mkdir "$work/src"
id _apt >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ] && chown _apt "$work/src"
(cd "$work/src" && apt-get source -qq "firebird3.0=$version" "libtommath=$tommath_version" \
    "icu=$icu_version" >"$work/source.log" 2>&1) || {
    cat "$work/source.log" >&2
    die "apt-get source failed"
}
fb=$(find "$work/src" -maxdepth 1 -type d -name 'firebird3.0-*' | head -n 1)
tommath=$(find "$work/src" -maxdepth 1 -type d -name 'libtommath-*' | head -n 1)
icu=$(find "$work/src" -maxdepth 1 -type d -name 'icu-*' | head -n 1)/source
if [ -z "$fb" ] || [ -z "$tommath" ] || [ ! -f "$icu/common/sources.txt" ]; then
    die "the unpacked sources are not in $work/src"
fi
for p in "$here"/*.patch; do
    patch -d "$fb" -p1 --forward --quiet <"$p" ||
        die "the patch $p does not apply to firebird3.0 $version"
done

make -C "$tommath" -j"$jobs" CC="$cc" AR="$target-ar" RANLIB="$target-ranlib" \
    CFLAGS="-O2" libtommath.a >"$work/tommath.log" 2>&1 || {
    tail -n 30 "$work/tommath.log" >&2
    die "libtommath did not build (log: $work/tommath.log)"
}

# --- The generated inputs, by native tools
make -C "$fb/extern/btyacc" CC=gcc >"$work/btyacc.log" 2>&1 || {
    tail -n 30 "$work/btyacc.log" >&2
    die "btyacc did not build"
}
make -C "$fb/extern/cloop" TARGET=release WITH_FPC=0 BUILD_DIR="$work/cloop-obj" \
    OUT_DIR="$work/cloop" mkdirs "$work/cloop/release/bin/cloop" >"$work/cloop.log" 2>&1 || {
    tail -n 30 "$work/cloop.log" >&2
    die "cloop did not build"
}
"$work/cloop/release/bin/cloop" "$fb/src/include/firebird/FirebirdInterface.idl" c++ \
    "$fb/src/include/firebird/IdlFbInterfaces.h" IDL_FB_INTERFACES_H Firebird I

# The parser and its token numbers, as builds/posix/make.shared.targets makes them.
mkdir -p "$work/parse"
sed -n '/%type .*/p' <"$fb/src/dsql/parse.y" >"$work/parse/types.y"
sed 's/%type .*//' <"$fb/src/dsql/parse.y" >"$work/parse/y.y"
(cd "$work/parse" && "$fb/extern/btyacc/btyacc" -l -d -S "$fb/src/dsql/btyacc_fb.ske" y.y) \
    >"$work/parse.log" 2>&1 || {
    cat "$work/parse.log" >&2
    die "btyacc failed on parse.y"
}
cp "$work/parse/y_tab.h" "$fb/src/include/gen/parse.h"
cp "$work/parse/y_tab.c" "$fb/src/dsql/parse.cpp"

# The relation and field numbers, as builds/posix/Makefile.in makes them.
(cd "$fb/src" && m4 misc/ids.m >include/gen/ids.h) || die "m4 failed on misc/ids.m"

sed -e 's/^#elif defined(_M_AMD64)$/#elif defined(_M_AMD64) || defined(__x86_64__)/' \
    -e 's/^#define HAVE_ZLIB_H\b.*/#undef HAVE_ZLIB_H/' \
    "$fb/src/include/gen/autoconfig_msvc.h" >"$fb/src/include/gen/autoconfig.h"
if ! grep -q '__x86_64__' "$fb/src/include/gen/autoconfig.h" ||
    ! grep -q '^#undef HAVE_ZLIB_H' "$fb/src/include/gen/autoconfig.h"; then
    die "autoconfig_msvc.h has changed: its 64-bit branch or its zlib switch was not found"
fi

# The embedded-SQL sources, by Debian's gpre against the metadata database (dialect 1) under
# both names they declare, with the flags of builds/posix/make.rules.
mkdir -p "$work/gpre/lock"
(
    cd "$work/gpre"
    export FIREBIRD_LOCK=$work/gpre/lock
    isql-fb -q -i "$fb/src/dbs/metadata.sql" >/dev/null
    mv metadata.fdb yachts.lnk
    ln -s yachts.lnk ODS.RDB
    for name in jrd/dfw jrd/dpm jrd/dyn_util jrd/fun jrd/grant jrd/ini jrd/met jrd/scl \
        jrd/Function dsql/metd dsql/DdlNodes dsql/PackageNodes; do
        mkdir -p "$fb/gen/$(dirname "$name")"
        gpre -n -z -gds_cxx -ids "$fb/src/$name.epp" "$fb/gen/$name.cpp"
    done
    for name in utilities/gstat/dba alice/alice_meta burp/backup burp/restore burp/OdsDetection; do
        mkdir -p "$fb/gen/$(dirname "$name")"
        gpre -m -z -n "$fb/src/$name.epp" "$fb/gen/$name.cpp"
    done
) >"$work/gpre.log" 2>&1 || {
    tail -n 30 "$work/gpre.log" >&2
    die "gpre failed on the engine's sources"
}

mkdir -p "$work/include"
ln -s /usr/include/unicode "$work/include/unicode"
for header in WinSock2 Winsock2 Windows Ws2tcpip Wspiapi Security; do
    lower=$(echo "$header" | tr '[:upper:]' '[:lower:]')
    echo "#include <$lower.h>" >"$work/include/$header.h"
done

# --- Firebird's files: the Windows projects' lists, with the client's flags
sources() {
    grep -o 'ClCompile Include="[^"]*"' "$fb/builds/win32/msvc12/$1.vcxproj" |
        sed -e 's/^ClCompile Include="//' -e 's/"$//' -e 's#\\#/#g' -e 's#^\.\./\.\./\.\./##'
}
for project in common engine alice burp intl; do
    sources "$project" >"$work/$project.files"
done
[ "$(cat "$work"/{engine,alice,burp}.files | wc -l)" -gt 140 ] ||
    die "the Windows project files list too few sources"
export FB_CXXFLAGS="-O1 -std=gnu++03 -DMINGW -DWIN32 -DNDEBUG -DSUPERSERVER -DWIN32_LEAN_AND_MEAN
    -DUCHAR_TYPE=uint16_t -fno-delete-null-pointer-checks -fno-lifetime-dse -fno-strict-aliasing
    -mthreads -w -I$work/include -I$fb/src/include -I$fb/src/include/gen -I$tommath"
export FB_ROOT=$fb FB_OBJ=$work/obj FB_CXX=$cxx
compile() {
    local object=$FB_OBJ/${1%.cpp}.o extra=()
    mkdir -p "$(dirname "$object")"
    case $1 in
    # The hardware CRC32C is chosen at run time; only its own file may use SSE 4.2.
    src/common/CRC32C.cpp) extra=(-msse4) ;;
    # The parser's token macros (STRING among them) clash with the Windows headers that the
    # trusted authentication header reaches: those come first.
    src/dsql/parse.cpp) extra=(-DSECURITY_WIN32 -include windows.h -include security.h) ;;
    esac
    # shellcheck disable=SC2086
    "$FB_CXX" $FB_CXXFLAGS "${extra[@]}" -c "$FB_ROOT/$1" -o "$object" 2>"$object.log" || {
        echo "engine: $1 did not compile:" >&2
        head -n 40 "$object.log" >&2
        return 1
    }
}
export -f compile
# Status 255 makes xargs start no further compiles after the first failure.
# shellcheck disable=SC2016
cat "$work"/{common,engine,alice,burp,intl}.files |
    xargs -P "$jobs" -I{} bash -c 'compile "$1" || exit 255' _ {} ||
    die "the engine's sources did not compile"
objects() { sed -e "s#^#$work/obj/#" -e 's/\.cpp$/.o/' "$@"; }
say "Firebird's files compiled in $((SECONDS - started)) s"

mkdir -p "$work/out/plugins" "$work/out/intl"
# shellcheck disable=SC2054
libs=(-static -static-libgcc -static-libstdc++ -mthreads -Wl,--enable-stdcall-fixup -s)
winlibs=(-lws2_32 -lmpr -ladvapi32 -luser32 -lshell32 -lole32 -lpsapi -lversion -lcomctl32)

# --- ICU: each file of its two libraries' source lists, linked as the DLLs of the Windows build.
# The data DLL holds the data blob that Debian's libicudata carries as its read-only data.
export ICU_ROOT=$icu ICU_OBJ=$work/icu-obj ICU_CXX=$cxx
icu_compile() {
    local library=$1 file=$2 object=$ICU_OBJ/$1/${2%.*}.o define
    define=-DU_COMMON_IMPLEMENTATION
    [ "$library" = i18n ] && define=-DU_I18N_IMPLEMENTATION
    mkdir -p "$(dirname "$object")"
    "$ICU_CXX" -O0 -std=gnu++17 -w "$define" -DU_ATTRIBUTE_DEPRECATED= -I"$ICU_ROOT/common" \
        -I"$ICU_ROOT/i18n" -c "$ICU_ROOT/$library/$file" -o "$object" 2>"$object.log" || {
        echo "engine: ICU's $library/$file did not compile:" >&2
        head -n 40 "$object.log" >&2
        return 1
    }
}
export -f icu_compile
for library in common i18n; do
    grep -v '^ *$' "$icu/$library/sources.txt" | sed "s/^/$library /"
done >"$work/icu.files"
# shellcheck disable=SC2016
xargs -P "$jobs" -L1 bash -c 'icu_compile "$1" "$2" || exit 255' _ <"$work/icu.files" ||
    die "ICU's sources did not compile"

objcopy -O binary --only-section=.rodata "$icu_data" "$work/icudt.dat"
[ "$(od -An -tx1 -j2 -N2 "$work/icudt.dat" | tr -d ' ')" = da27 ] ||
    die "the read-only data of $icu_data are not ICU's data blob"
cat >"$work/icudt.s" <<EOF
    .section .rdata,"dr"
    .globl icudt${icu_major}_dat
    .balign 16
icudt${icu_major}_dat:
    .incbin "$work/icudt.dat"
EOF
"$target-as" -o "$work/icudt.o" "$work/icudt.s"
echo "EXPORTS icudt${icu_major}_dat DATA" >"$work/icudt.def"
"$cc" -shared -o "$work/out/icudt$icu_major.dll" "$work/icudt.o" "$work/icudt.def" -s \
    >"$work/link-icu.log" 2>&1 || {
    tail -n 40 "$work/link-icu.log" >&2
    die "icudt$icu_major.dll did not link"
}
"$cxx" -shared -o "$work/out/icuuc$icu_major.dll" "$work"/icu-obj/common/*.o \
    "$work/out/icudt$icu_major.dll" "${libs[@]}" -ladvapi32 -luser32 -lole32 \
    >>"$work/link-icu.log" 2>&1 || {
    tail -n 40 "$work/link-icu.log" >&2
    die "icuuc$icu_major.dll did not link"
}
"$cxx" -shared -o "$work/out/icuin$icu_major.dll" "$work"/icu-obj/i18n/*.o \
    "$work/out/icuuc$icu_major.dll" "${libs[@]}" -ladvapi32 -luser32 -lole32 \
    >>"$work/link-icu.log" 2>&1 || {
    tail -n 40 "$work/link-icu.log" >&2
    die "icuin$icu_major.dll did not link"
}

# The client now (built once, by now mostly beside this build): the engine imports its functions,
# so both come from one source version.
fbclient=$("$client_build") || die "the test client did not build"
objects "$work/common.files" | xargs "$target-ar" rcs "$work/common.a"

# shellcheck disable=SC2046
"$cxx" -shared -o "$work/out/plugins/engine12.dll" $(objects "$work"/{engine,alice,burp}.files) \
    "$work/common.a" "$fbclient" "$fb/builds/win32/defs/plugin.def" "${libs[@]}" \
    "$tommath/libtommath.a" "${winlibs[@]}" >"$work/link-engine.log" 2>&1 || {
    tail -n 40 "$work/link-engine.log" >&2
    die "engine12.dll did not link"
}
# shellcheck disable=SC2046
"$cxx" -shared -o "$work/out/intl/fbintl.dll" $(objects "$work/intl.files") "$work/common.a" \
    "$fbclient" "${libs[@]}" "$tommath/libtommath.a" "${winlibs[@]}" >"$work/link-intl.log" 2>&1 || {
    tail -n 40 "$work/link-intl.log" >&2
    die "fbintl.dll did not link"
}
# grep reads all of objdump's output here too.
"$target-objdump" -p "$work/out/plugins/engine12.dll" | grep -w firebird_plugin >/dev/null ||
    die "engine12.dll does not export firebird_plugin"
"$target-objdump" -p "$work/out/intl/fbintl.dll" | grep -w LD_lookup_charset >/dev/null ||
    die "fbintl.dll does not export LD_lookup_charset"
cp "$fbclient" "$firebird_lib/firebird.msg" "$work/out/"
cp "$firebird_lib/intl/fbintl.conf" "$work/out/intl/"
cat >"$work/out/README" <<EOF
Firebird's embedded engine for 64-bit Windows with its client, built by $0
from Debian's firebird3.0 $version and icu $icu_version, for the Windows tests under Wine only.
Never ship it.
EOF
rm -rf "$out"
mv "$work/out" "$out"
say "built $out in $((SECONDS - started)) s"
echo "$out"
