#!/usr/bin/env bash
# Builds the release preset (build-release/) and makes the Debian package
# build-release/mailsort_<version>_amd64.deb with CPack. Its dependencies are
# worked out from the binaries by dpkg-shlibdeps, plus fonts-liberation and
# qt6-qpa-plugins. Install it with: apt-get install ./mailsort_<version>_amd64.deb
# As root on a fresh Debian 12 machine it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/setup.sh
cmake --preset release
cmake --build --preset release
(cd build-release && cpack -G DEB)
ls build-release/mailsort_*_amd64.deb
