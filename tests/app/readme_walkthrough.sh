#!/usr/bin/env bash
# Runs the PostgreSQL walk-through of README.md, the block that follows its
# "postgresql walk-through" mark, as it stands: as root, in the throw-away
# cluster that pg_virtualenv made (it creates a role and a database, which
# no other server should get). The programs are the build's, first on PATH,
# and the package's documents are the source tree's db/; HOME is a folder
# of its own, and CUPS is a socket that is not there, so nothing prints.
#   tests/app/readme_walkthrough.sh SOURCE_DIR BUILD_DIR
# Status 77: not run here.
set -euo pipefail
src=$1 build=$2
if [ -z "${PG_CLUSTER_CONF_ROOT:-}" ] || [ "$(id -u)" -ne 0 ]; then
  echo "not run: it needs root and a cluster of pg_virtualenv"
  exit 77
fi
block=$(awk '/<!-- postgresql walk-through/ { mark = 1; next }
             mark && /^```sh$/ { inside = 1; next }
             inside && /^```$/ { exit }
             inside { print }' "$src/README.md")
[ -n "$block" ] || { echo "README.md: no PostgreSQL walk-through after its mark"; exit 1; }

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
chmod 755 "$home"
cd "$home"
export HOME=$home PATH="$build:$PATH" CUPS_SERVER=/nonexistent/cups.sock
if ! bash -euo pipefail -c "${block//\/usr\/share\/doc\/mailsort\//$src/db/}" >out 2>&1; then
  cat out
  echo "FAILED: the walk-through stopped at the command above"
  exit 1
fi
status=0
for file in POFILE.DAT POLINE.CSV POADDR.CSV POPLAN.CSV MAILSORT.PDF; do
  [ -s "jobs/job42/$file" ] || { echo "FAILED: no $file in ~/jobs/job42"; status=1; }
done
grep -q '^  20,000 addresses processed' out || { echo "FAILED: the run did not say it processed 20,000 addresses"; status=1; }
tables=$(PGPASSWORD=change-me psql -h localhost -U mail -d jobs -Atc \
  "select count(*) from information_schema.tables where table_schema = 'job43'")
[ "$tables" -eq 8 ] || { echo "FAILED: job43 has $tables tables, not the 8 of the schema file"; status=1; }
[ $status -eq 0 ] && echo "The README's PostgreSQL walk-through runs as written"
exit $status
