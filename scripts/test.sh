#!/usr/bin/env bash
# Builds mailsort with the dev preset (build/) and runs every test, then
# checks printing through a real CUPS (as root only, scripts/cups_check.sh),
# then builds and tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (the asan preset, build-asan/). As root on a
# fresh Debian 12 machine it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/setup.sh
cmake --build --preset dev
ctest --preset dev
bash scripts/cups_check.sh build
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
