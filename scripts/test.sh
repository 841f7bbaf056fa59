#!/usr/bin/env bash
# Installs what is missing (when run as root), builds everything in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
install_missing_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
