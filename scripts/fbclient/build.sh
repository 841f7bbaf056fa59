#!/usr/bin/env bash
# Builds a 64-bit Windows Firebird client, fbclient.dll, from Debian's own firebird3.0 source
# package (the version of the installed firebird-dev, so it matches the Linux server the tests
# run) and Debian's libtommath, with the mingw-w64 cross compiler. It is a stand-in for the
# suite's own client in the Windows tests under Wine and is never shipped or packed.
#
#   scripts/fbclient/build.sh     prints the path of the DLL as its last line
#
# The DLL is cached outside the clone, in ${TESSARA_CACHE_DIR:-/var/cache/tessara-updater}/
# fbclient-<source version>-<recipe>/, where the recipe is a digest of this script and its
# patch: a machine builds it once (about 5.5 minutes on 2 idle cores, 10 beside other builds),
# later runs only look it up.
#
# Firebird's own make files cannot cross-build (they run the tools they build), so the files of
# the Windows projects common, remote and yvalve are compiled directly, the few generated inputs
# made first by native tools: cloop (the interface header), btyacc (the parser's token numbers)
# and Debian's gpre (the two embedded-SQL sources).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${TESSARA_CACHE_DIR:-/var/cache/tessara-updater}
target=x86_64-w64-mingw32
cxx=$target-g++-posix
cc=$target-gcc-posix
jobs=$(nproc)

say() { echo "fbclient: $*" >&2; }
die() {
    say "$*"
    exit 1
}

# --- What it needs, said once and plainly (scripts/lib/packages.sh installs it for the tests)
for tool in "$cxx:mingw-w64" "$cc:mingw-w64" "$target-ar:mingw-w64" "$target-objdump:mingw-w64" \
    gpre:firebird-dev isql-fb:firebird3.0-utils gcc:gcc g++:g++ make:make \
    dpkg-source:dpkg-dev patch:patch; do
    command -v "${tool%%:*}" >/dev/null || die "${tool%%:*} is missing (package ${tool#*:})"
done
[ -f /usr/include/unicode/ucnv.h ] || die "the ICU headers are missing (package libicu-dev)"

version=$(dpkg-query -W -f '${source:Version}' firebird-dev 2>/dev/null) ||
    die "firebird-dev is not installed: its version chooses the source"
tommath_version=$(dpkg-query -W -f '${source:Version}' libtommath1 2>/dev/null) ||
    die "libtommath1 is not installed: its version chooses the source"
recipe=$(cat "$0" "$here"/*.patch | sha256sum | cut -c1-12)
out=$cache/fbclient-$version-$recipe
dll=$out/fbclient.dll

if [ -f "$dll" ]; then
    echo "$dll"
    exit 0
fi

mkdir -p "$cache" || die "cannot create the cache directory $cache (set TESSARA_CACHE_DIR)"
# One build at a time on the machine: a second run waits for the first and then finds its DLL.
exec 8>"$cache/fbclient.lock"
flock 8
if [ -f "$dll" ]; then
    echo "$dll"
    exit 0
fi

# What a failed or killed build left behind goes now: no other build runs.
rm -rf "$cache"/fbclient-build.*
work=$(mktemp -d "$cache/fbclient-build.XXXXXX")
# Removed when the DLL is built; a failed build is kept with its logs until the next build.
finish() {
    local status=$?
    if [ "$status" -eq 0 ]; then
        rm -rf "$work"
    else
        say "the failed build is kept in $work"
    fi
}
trap finish EXIT
say "building fbclient.dll from firebird3.0 $version and libtommath $tommath_version in $work"
started=$SECONDS

# --- The sources, through a deb-src entry of the Debian mirrors the machine already uses
has_source() {
    apt-cache showsrc "$1" 2>/dev/null | grep -qx "Version: $2"
}
if ! has_source firebird3.0 "$version" || ! has_source libtommath "$tommath_version"; then
    [ "$(id -u)" -eq 0 ] || die "Debian's source packages are not known to apt: run as root once"
    list=/etc/apt/sources.list.d/tessara-debian-src.sources
    say "adding the deb-src entries in $list"
    # Every Debian suite apt takes binary packages from, e.g.
    #  500 http://deb.debian.org/debian bookworm/main amd64 Packages
    #      release v=12.11,o=Debian,a=stable,n=bookworm,l=Debian,c=main,b=amd64
    apt-cache policy | awk '
        /^ *[0-9]+ [a-z]+:\/\// { uri = $2; split($3, sc, "/"); suite = sc[1]; comp = sc[2]; next }
        /^ *release / && uri != "" { if ($0 ~ /o=Debian,/) print uri, suite, comp; uri = "" }' |
        sort -u >"$work/suites"
    [ -s "$work/suites" ] || die "apt knows no Debian suite to take the sources from"
    {
        echo "# Debian's source packages, for scripts/fbclient/build.sh of the Tessara updater."
        while read -r uri suite component; do
            echo
            echo "Types: deb-src"
            echo "URIs: $uri"
            echo "Suites: $suite"
            echo "Components: $component"
            [ -f /usr/share/keyrings/debian-archive-keyring.gpg ] &&
                echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
        done <"$work/suites"
    } >"$list.new"
    mv "$list.new" "$list"
    apt-get update -qq || die "apt-get update failed with the deb-src entries of $list"
    has_source firebird3.0 "$version" || die "no source package firebird3.0 $version on the mirrors"
    has_source libtommath "$tommath_version" ||
        die "no source package libtommath $tommath_version on the mirrors"
fi
mkdir "$work/src"
# apt downloads as its own user _apt, which must be able to write there.
id _apt >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ] && chown _apt "$work/src"
(cd "$work/src" && apt-get source -qq "firebird3.0=$version" "libtommath=$tommath_version" \
    >"$work/source.log" 2>&1) || {
    cat "$work/source.log" >&2
    die "apt-get source failed"
}
fb=$(find "$work/src" -maxdepth 1 -type d -name 'firebird3.0-*' | head -n 1)
tommath=$(find "$work/src" -maxdepth 1 -type d -name 'libtommath-*' | head -n 1)
if [ -z "$fb" ] || [ -z "$tommath" ]; then
    die "the unpacked sources are not in $work/src"
fi
patch -d "$fb" -p1 --forward --quiet <"$here/inet-posix-signal.patch" ||
    die "the patch $here/inet-posix-signal.patch does not apply to firebird3.0 $version"

# --- libtommath for Windows, by its own make file
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

# The parser's header only, as builds/posix/make.shared.targets makes it: keywords.cpp needs the
# token numbers.
mkdir -p "$work/parse"
sed -n '/%type .*/p' <"$fb/src/dsql/parse.y" >"$work/parse/types.y"
sed 's/%type .*//' <"$fb/src/dsql/parse.y" >"$work/parse/y.y"
(cd "$work/parse" && "$fb/extern/btyacc/btyacc" -l -d -S "$fb/src/dsql/btyacc_fb.ske" y.y) \
    >"$work/parse.log" 2>&1 || {
    cat "$work/parse.log" >&2
    die "btyacc failed on parse.y"
}
cp "$work/parse/y_tab.h" "$fb/src/include/gen/parse.h"

# The MSVC configuration header, its 64-bit branch also taken for GCC, and without wire
# compression (no zlib for mingw needed; the updater does not ask for compression).
sed -e 's/^#elif defined(_M_AMD64)$/#elif defined(_M_AMD64) || defined(__x86_64__)/' \
    -e 's/^#define HAVE_ZLIB_H\b.*/#undef HAVE_ZLIB_H/' \
    "$fb/src/include/gen/autoconfig_msvc.h" >"$fb/src/include/gen/autoconfig.h"
if ! grep -q '__x86_64__' "$fb/src/include/gen/autoconfig.h" ||
    ! grep -q '^#undef HAVE_ZLIB_H' "$fb/src/include/gen/autoconfig.h"; then
    die "autoconfig_msvc.h has changed: its 64-bit branch or its zlib switch was not found"
fi

# array.epp and blob.epp, by Debian's gpre against an empty database of the name they declare.
mkdir -p "$fb/gen/yvalve" "$work/gpre/lock"
(
    cd "$work/gpre"
    export FIREBIRD_LOCK=$work/gpre/lock
    echo "create database 'yachts.lnk';" | isql-fb -q >/dev/null
    for name in array blob; do
        gpre -m -z -n "$fb/src/yvalve/$name.epp" "$fb/gen/yvalve/$name.cpp"
    done
) >"$work/gpre.log" 2>&1 || {
    cat "$work/gpre.log" >&2
    die "gpre failed on the yvalve sources"
}

# The sources include Windows headers with capitals; mingw's are lower case. ICU's headers are
# taken from the Linux ones (the client uses only their inline UTF-8 macros and never loads ICU).
mkdir -p "$work/include"
ln -s /usr/include/unicode "$work/include/unicode"
for header in WinSock2 Winsock2 Windows Ws2tcpip Wspiapi Security; do
    lower=$(echo "$header" | tr '[:upper:]' '[:lower:]')
    echo "#include <$lower.h>" >"$work/include/$header.h"
done

# --- The Windows projects' own file lists, compiled one per core at a time
sources() {
    grep -o 'ClCompile Include="[^"]*"' "$fb/builds/win32/msvc12/$1.vcxproj" |
        sed -e 's/^ClCompile Include="//' -e 's/"$//' -e 's#\\#/#g' -e 's#^\.\./\.\./\.\./##'
}
{ sources common; sources remote; sources yvalve; } >"$work/files"
[ "$(wc -l <"$work/files")" -gt 80 ] || die "the Windows project files list too few sources"
# Dynamic exception specifications need C++03, as on Linux (prefix.linux).
export FB_CXXFLAGS="-O2 -std=gnu++03 -DMINGW -DWIN32 -DNDEBUG -DSUPERSERVER -DWIN32_LEAN_AND_MEAN
    -DUCHAR_TYPE=uint16_t -fno-delete-null-pointer-checks -fno-lifetime-dse -fno-strict-aliasing
    -mthreads -w -I$work/include -I$fb/src/include -I$fb/src/include/gen -I$tommath"
export FB_ROOT=$fb FB_OBJ=$work/obj FB_CXX=$cxx
compile() {
    local object=$FB_OBJ/${1%.cpp}.o extra=
    mkdir -p "$(dirname "$object")"
    # The hardware CRC32C is chosen at run time; only its own file may use SSE 4.2.
    [ "$1" = src/common/CRC32C.cpp ] && extra=-msse4
    # shellcheck disable=SC2086
    "$FB_CXX" $FB_CXXFLAGS $extra -c "$FB_ROOT/$1" -o "$object" 2>"$object.log" || {
        echo "fbclient: $1 did not compile:" >&2
        head -n 40 "$object.log" >&2
        return 1
    }
}
export -f compile
# Status 255 makes xargs start no further compiles after the first failure.
# shellcheck disable=SC2016
xargs -P "$jobs" -I{} bash -c 'compile "$1" || exit 255' _ {} <"$work/files" ||
    die "the client's sources did not compile"

# common as a static archive, as the Windows projects link it; the export list is Firebird's own.
grep '^src/common/' "$work/files" | sed -e "s#^#$work/obj/#" -e 's/\.cpp$/.o/' >"$work/common.objects"
grep -v '^src/common/' "$work/files" | sed -e "s#^#$work/obj/#" -e 's/\.cpp$/.o/' >"$work/client.objects"
xargs "$target-ar" rcs "$work/common.a" <"$work/common.objects"
mkdir -p "$work/out"
# shellcheck disable=SC2046
"$cxx" -shared -o "$work/out/fbclient.dll" $(cat "$work/client.objects") "$work/common.a" \
    "$fb/builds/win32/defs/firebird.def" -static -static-libgcc -static-libstdc++ -mthreads \
    -Wl,--enable-stdcall-fixup -s "$tommath/libtommath.a" \
    -lws2_32 -lmpr -ladvapi32 -luser32 -lshell32 -lole32 >"$work/link.log" 2>&1 || {
    tail -n 40 "$work/link.log" >&2
    die "fbclient.dll did not link"
}
"$target-objdump" -p "$work/out/fbclient.dll" >"$work/objdump.txt"
grep -qw fb_get_master_interface "$work/objdump.txt" ||
    die "the built fbclient.dll does not export fb_get_master_interface"

cat >"$work/out/README" <<EOF
fbclient.dll: Firebird's client library for 64-bit Windows, built by $0
from Debian's firebird3.0 $version and libtommath $tommath_version, for the Windows tests under
Wine only. Never ship it.
EOF
rm -rf "$out"
mv "$work/out" "$out"
say "built $dll in $((SECONDS - started)) s"
echo "$dll"
