#!/bin/sh
# Runs two builds of the program on the same jobs and compares what they leave.
#   bench/compare_outputs.sh [--large N] [--postgres URI] [--keep DIR] OLD_BUILD_DIR NEW_BUILD_DIR
# Jobs of 20000 records, each in an SQLite file and in a PostgreSQL schema:
#   plain, Regional Sequencing (--geog),
#   killed: plain, killed just after its commit, then started once more,
#   stopped: Regional Sequencing, sent TERM in the middle of its allocation;
# then N plain records (default 1000000, 0 for none) in an SQLite file. Each
# job is made by NEW's mailsort-sample (Chain Mode, seed 11), once for each
# build, and run headless with --database. Compared byte for byte: the exit
# statuses, the kvwork, bags and parmcode rows (in rowid order), POFILE.DAT,
# POLINE.CSV, POADDR.CSV, POPLAN.CSV, UNMATCHED.CSV and the text of
# MAILSORT.PDF. Prints "same" or "DIFFERENT" for each and exits 1 when
# anything differs. The server is --postgres URI's, else
# MAILSORT_TEST_POSTGRES's; with neither, the script runs itself in a
# throw-away PostgreSQL 15 cluster.
set -eu
. "$(dirname "$0")/common.sh"
in_postgres_cluster "$@"

usage() {
  sed -n '2,16s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
large=1000000 keep= base=${MAILSORT_TEST_POSTGRES:-}
while [ $# -gt 0 ]; do
  case $1 in
    --large) large=$2; shift 2 ;;
    --postgres) base=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
old=$(check_build "$1")
new=$(check_build "$2")
build=$new  # the sample generator
make_work "$keep"
need_disk $((large / 1000000 * 800 + 100))
schemas="outputs_old_$$ outputs_new_$$"
[ -n "$keep" ] || trap 'drop_schemas "$base" $schemas; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# table_rows DATABASE DIR: every row of kvwork, bags and parmcode in rowid
# order, as DIR/TABLE.rows.
table_rows() {
  for table in kvwork bags parmcode; do
    case $1 in
      postgres://* | postgresql://*)
        psql -X -q -A -t -F "$tab" -P null='\N' "$1" -c "select * from $table order by rowid" ;;
      *) sqlite3 -batch -init /dev/null -quote "$1" "select * from $table order by rowid" ;;
    esac >"$2/$table.rows" 2>&1 || true
  done
}

# outputs DIR BUILD DATABASE [STOP [again]]: BUILD's program on DATABASE in
# DIR, stopped at STOP (MAILSORT_STOP_AT) when given and then, with "again",
# started once more; DIR/status holds each start's exit status. Leaves beside
# the PO files a text copy of everything else that is compared.
outputs() {
  (
    cd "$1"
    { MAILSORT_STOP_AT=${4:-} "$2/mailsort" --database "$3" >log 2>&1 && echo 0 || echo $?; } >status
    [ "${5:-}" != again ] || { "$2/mailsort" --database "$3" >>log 2>&1 && echo 0 || echo $?; } >>status
  )
  table_rows "$3" "$1"
  [ ! -f "$1/MAILSORT.PDF" ] || pdftotext -layout "$1/MAILSORT.PDF" "$1/MAILSORT.txt"
}

differs=0
echo "old $old"
echo "new $new"
jobs="plain 20000 - - -
geog 20000 --geog - -
killed 20000 - after-commit again
stopped 20000 --geog allocation@5000:TERM -"
[ "$large" = 0 ] || jobs="$jobs
plain $large - - - sqlite"
while read -r name records geog stop again only; do
  [ "$geog" != - ] || geog=
  [ "$stop" != - ] || stop=
  for engine in ${only:-sqlite postgres}; do
    job=$name-$records-$engine
    for side in old new; do
      dir=$work/$job/$side
      if [ $side = old ]; then program=$old; else program=$new; fi
      mkdir -p "$dir"
      if [ $engine = sqlite ]; then db=$dir/mailsort.mdb; else db=$(schema_uri "$base" "outputs_${side}_$$"); fi
      "$build/mailsort-sample" --database "$db" --force --records "$records" --seed 11 --chain $geog >/dev/null
      outputs "$dir" "$program" "$db" "$stop" "$again"
    done
    echo "$job (exit statuses old $(cat "$work/$job/old/status" | tr '\n' ' ')new $(cat "$work/$job/new/status" | tr '\n' ' '))"
    compare_runs "$work/$job/old" "$work/$job/new" status kvwork.rows bags.rows parmcode.rows POFILE.DAT POLINE.CSV \
      POADDR.CSV POPLAN.CSV UNMATCHED.CSV MAILSORT.txt
    [ -n "$keep" ] || rm -rf "${work:?}/$job"
  done
done <<EOF
$jobs
EOF
[ $differs = 0 ] && echo "all same" || echo "something DIFFERENT"
exit $differs
