#!/usr/bin/env bash
# Builds mailsort into build/ and runs every test.
# As root on a fresh Debian 12 machine it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/setup.sh
cmake --build build -j2
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure
