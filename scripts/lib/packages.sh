# The Debian packages the project builds, tests and runs with; sourced by the scripts.
REQUIRED_PACKAGES=(
    cmake g++ make pkg-config clang-format ccache
    qt6-base-dev
    firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils firebird3.0-server
    libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev
    unar
)
# What bench/run.sh needs besides: time for the processes' context switches, CPU time and peak
# memory, strace for their page writes and syncs.
BENCH_PACKAGES=(time strace)
# What the Windows cross-build and its tests under Wine need besides (scripts/test_windows.sh):
# the test Firebird client and embedded engine are built from Debian's sources
# (scripts/fbclient/build.sh, scripts/fbengine/build.sh: apt-get source, the ICU headers and
# data, patch, m4 for the engine's generated header, binutils for ICU's data), and the tests give
# Wine a Ukrainian locale (locales).
WINDOWS_PACKAGES=(
    mingw-w64 wine wine64 googletest
    xvfb
    osslsigncode openssl
    dpkg-dev libicu-dev libicu72 patch xz-utils m4 binutils
    locales
)

install_missing_packages() {
    local missing=() p
    for p in "${REQUIRED_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}. Run this script as root to install them." >&2
        return 1
    fi
    echo "Installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
