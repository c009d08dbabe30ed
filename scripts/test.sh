#!/usr/bin/env bash
# Builds mailsort with the dev preset (build/) and runs every test, then
# checks printing through a real CUPS (as root only, scripts/cups_check.sh),
# then builds and tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (the asan preset, build-asan/). Each preset's
# tests run on SQLite first, where the tests that need PostgreSQL skip; then
# the tests whose names hold "Postgres" run again against a throw-away
# PostgreSQL 15 cluster (pg_virtualenv -t: in a temporary folder, so that
# runs side by side do not meet; it sets libpq's PG* variables). As root on a
# fresh Debian 12 machine it first installs what is missing; another user
# without PostgreSQL is told in one line that that half did not run.
# Last, as root only, it builds the Debian package and checks it with lintian
# (scripts/package.sh, a release build without the tests).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/setup.sh

# Why the PostgreSQL half cannot run here; nothing when it can.
postgres_missing() {
  if ! command -v pg_virtualenv >/dev/null; then
    echo "pg_virtualenv is not installed (as root: apt-get install postgresql-common)"
  elif [ ! -x /usr/lib/postgresql/15/bin/postgres ]; then
    echo "the PostgreSQL 15 server is not installed (as root: apt-get install postgresql)"
  fi
}
postgres_why=$(postgres_missing)

# postgres_half PRESET: the preset's PostgreSQL tests, in a cluster of their own.
postgres_half() {
  if [ -n "$postgres_why" ]; then
    [ "$1" != dev ] || echo "scripts/test.sh: the PostgreSQL half of the tests was not run: $postgres_why."
    return 0
  fi
  pg_virtualenv -t -v 15 env MAILSORT_TEST_POSTGRES=postgresql:// ctest --preset "$1" -R Postgres
}

cmake --build --preset dev
ctest --preset dev
postgres_half dev
bash scripts/cups_check.sh build
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
postgres_half asan
if [ "$(id -u)" -eq 0 ]; then
  bash scripts/package.sh
else
  echo "scripts/test.sh: the Debian package was not built (as root only; scripts/package.sh builds it)"
fi
