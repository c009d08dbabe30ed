#!/bin/sh
# Runs the program on the same sample job in an SQLite file and in a
# PostgreSQL schema, and compares what the two runs leave.
#   bench/compare_engines.sh [--records N] [--seed S] [--geog] [--missing-labels]
#                            [--postgres URI] [--keep DIR] [BUILD_DIR]
# mailsort-sample makes the job (default 200000 records, seed 11, Chain Mode)
# twice, with --database FILE and with --database URI in a schema of its own,
# and `mailsort --batch --database` runs each in a folder of its own.
# Compared byte for byte: the exit status, POFILE.DAT, POLINE.CSV, POADDR.CSV,
# POPLAN.CSV, the text of MAILSORT.PDF and the kvwork and bags rows in rowid
# order. Prints "same" or "DIFFERENT" for each and exits 1 when anything
# differs. The server is --postgres URI's, else MAILSORT_TEST_POSTGRES's; with
# neither, the script runs itself in a throw-away PostgreSQL 15 cluster.
# BUILD_DIR defaults to build-release. The schema is dropped at the end, unless
# --keep DIR keeps it with the folders.
set -eu
. "$(dirname "$0")/common.sh"
in_postgres_cluster "$@"

usage() {
  sed -n '2,16s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
records=200000 seed=11 job_options= keep= base=${MAILSORT_TEST_POSTGRES:-}
while [ $# -gt 0 ]; do
  case $1 in
    --records) records=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --geog | --missing-labels) job_options="$job_options $1"; shift ;;
    --postgres) base=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -le 1 ] || usage
build=$(check_build "${1:-$root/build-release}")
make_work "$keep"
find_stopwatch "$build"
need_disk $((records / 1000000 * 500 + 100))
schema=compare_$$
uri=$(schema_uri "$base" $schema)
if [ -n "$keep" ]; then
  echo "kept: $work and the schema of $uri"
else
  trap 'drop_schemas "$base" $schema; rm -rf "$work"' EXIT
fi
export QT_QPA_PLATFORM=offscreen

echo "$records records, seed $seed$job_options, build $build"
for engine in sqlite postgres; do
  mkdir -p "$work/$engine"
  if [ $engine = sqlite ]; then db=$work/sqlite/mailsort.mdb; else db=$uri; fi
  "$build/mailsort-sample" --database "$db" --records "$records" --seed "$seed" --chain $job_options >/dev/null
  batch_run "$work/$engine" "$db"
  printf '  %-13s %s s, status %s\n' "$engine" "$seconds" "$status"
  check_status "$engine" "$status" "$work/$engine/log"
done
differs=0
compare_runs "$work/sqlite" "$work/postgres"
[ $differs = 0 ] && echo "all same" || echo "something DIFFERENT"
exit $differs
