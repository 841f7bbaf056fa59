# Sourced by the build scripts: compile through ccache when it is installed, with one cache per
# machine outside the clone, so that a second build of the same sources (another clone, the
# sanitizer builds run again) takes seconds. Paths are taken relative to the checkout, so clones
# at different places share the cache.
if command -v ccache >/dev/null; then
    export CCACHE_DIR=${CCACHE_DIR:-${TESSARA_CACHE_DIR:-/var/cache/tessara-updater}/ccache}
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
    export CCACHE_NOHASHDIR=1
    export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-10G}
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
    mkdir -p "$CCACHE_DIR" 2>/dev/null || true
fi
