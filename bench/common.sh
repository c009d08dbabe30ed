# Sourced by the benchmark scripts: the build under test, a work folder that
# is removed at the end, the stopwatch, and a few helpers.

bench_dir=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$bench_dir")

# No benchmark prints on a queue of the machine: CUPS is a socket that is
# not there, so every build under test, old or new, finds no printer.
export CUPS_SERVER=/nonexistent/cups.sock

# check_build DIR: prints DIR as an absolute path when it holds both programs.
check_build() {
  dir=$(cd "$1" 2>/dev/null && pwd) || { echo "$0: no folder $1" >&2; exit 1; }
  for program in mailsort mailsort-sample; do
    [ -x "$dir/$program" ] || { echo "$0: no $program in $dir" >&2; exit 1; }
  done
  echo "$dir"
}

# make_work [DIR]: sets $work to DIR (kept) or to a new temporary folder that
# is removed when the script ends.
make_work() {
  if [ -n "${1:-}" ]; then
    mkdir -p "$1" && work=$(cd "$1" && pwd)
  else
    work=$(mktemp -d "${TMPDIR:-/tmp}/mailsort-bench.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    trap 'exit 130' INT TERM
  fi
}

# find_stopwatch BUILD: sets $stopwatch to bench_time from the build folder,
# or compiles it into the work folder when that build has none.
find_stopwatch() {
  stopwatch=$1/bench/bench_time
  [ -x "$stopwatch" ] && return 0
  stopwatch=$work/bench_time
  c++ -std=c++20 -O2 -Wall -Wextra -o "$stopwatch" "$bench_dir/bench_time.cpp"
}

# need_disk MB: stops when the work folder's file system has less room.
need_disk() {
  free_mb=$(df -Pk "$work" | awk 'NR == 2 { print int($4 / 1024) }')
  if [ "$free_mb" -lt "$1" ]; then
    echo "$0: $work has $free_mb MB free, this needs about $1 MB" >&2
    exit 1
  fi
}

# timed DIR RESULT COMMAND [ARG...]: runs the command in DIR with its output
# in DIR/log and sets $seconds, $rss_kb and $status from the stopwatch, and
# $log_mb from the largest size DIR/mailsort.mdb-wal reached meanwhile (read
# five times a second).
timed() {
  dir=$1 result=$2
  shift 2
  sync  # the job's copies are on disk before the clock starts
  rm -f "$dir/wal.peak"
  (
    peak=0
    while :; do
      size=$(stat -c %s "$dir/mailsort.mdb-wal" 2>/dev/null || echo 0)
      [ "$size" -le "$peak" ] || { peak=$size; echo "$peak" >"$dir/wal.peak"; }
      sleep 0.2
    done
  ) &
  watcher=$!
  (cd "$dir" && "$stopwatch" "$result" "$@" >log 2>&1)
  kill "$watcher" 2>/dev/null; wait "$watcher" 2>/dev/null || true
  read -r seconds rss_kb status <"$result"
  log_mb=$(calc "int($(cat "$dir/wal.peak" 2>/dev/null || echo 0) / 1048576 + 0.5)")
}

# check_status NAME STATUS LOG: tells of a command that did not end with 0.
check_status() {
  [ "$2" = 0 ] || { echo "  $1 ended with status $2:"; tail -5 "$3"; }
}

# make_job DIR RECORDS SEED [--geog]: a Chain Mode job in DIR/mailsort.mdb.
make_job() {
  "$build/mailsort-sample" --out "$1" --records "$2" --seed "$3" --chain ${4:-} >/dev/null
}

# calc EXPRESSION: awk's arithmetic, for the figures the shell cannot do.
calc() {
  awk "BEGIN { print $1 }"
}

# in_postgres_cluster "$@": unless the arguments (--postgres URI) or
# MAILSORT_TEST_POSTGRES name a PostgreSQL server, runs the calling script
# again with the same arguments inside a throw-away PostgreSQL 15 cluster
# (pg_virtualenv -t, which sets libpq's PG* variables).
in_postgres_cluster() {
  [ -z "${MAILSORT_TEST_POSTGRES:-}" ] || return 0
  for arg in "$@"; do [ "$arg" != --postgres ] || return 0; done
  if ! command -v pg_virtualenv >/dev/null; then
    echo "$0: no PostgreSQL server: give --postgres URI or MAILSORT_TEST_POSTGRES, or install postgresql" >&2
    exit 1
  fi
  exec pg_virtualenv -t -v 15 env MAILSORT_TEST_POSTGRES=postgresql:// sh "$bench_dir/$(basename "$0")" "$@"
}

# schema_uri BASE SCHEMA: the URI that selects SCHEMA on BASE's server.
schema_uri() {
  case $1 in
    *\?*) echo "$1&options=-csearch_path%3D$2" ;;
    *) echo "$1?options=-csearch_path%3D$2" ;;
  esac
}

# drop_schemas BASE SCHEMA...: drops the schemas with everything in them.
drop_schemas() {
  base=$1
  shift
  for schema in "$@"; do
    psql -X -q "$base" -c "DROP SCHEMA IF EXISTS $schema CASCADE" >/dev/null 2>&1 || true
  done
}

tab=$(printf '\t')

# dump_rows DATABASE DIR: the kvwork and bags rows of DATABASE (an SQLite file
# or a PostgreSQL URI) in rowid order as DIR/kvwork.rows and DIR/bags.rows:
# fields split by tabs, Null as \N, and every field that reads as a number in
# 17 significant digits, so that equal doubles print equal whatever the
# engine (a text that reads as a number prints as one on both sides). Each
# engine first gives its doubles with the digits they need to read back
# exactly: SQLite through quote(), PostgreSQL by itself.
dump_rows() {
  for table in kvwork bags; do
    if [ $table = kvwork ]; then
      columns='mscode, rscode, %seq, rgcode, sflag, pcflag, "Name", "Address1", "Address2", "Address3",
               "Address4", town, county, postcode'
    else
      columns='%"Bag Number", %"Label Start", %"Label Number", %"Bundle Number", %"Seq"'
    fi
    case $1 in
      postgres://* | postgresql://*)
        psql -X -q -A -t -F "$tab" -P null='\N' "$1" \
          -c "select $(echo "$columns" | tr -d %) from $table order by rowid" ;;
      *)
        sqlite3 -batch -init /dev/null -separator "$tab" -nullvalue '\N' "$1" \
          "select $(echo "$columns" | sed "s/%\([a-z]*\|\"[^\"]*\"\)/nullif(quote(\1), 'NULL')/g")
           from $table order by rowid" ;;
    esac 2>&1 | awk -F "$tab" -v OFS="$tab" '{
      for (i = 1; i <= NF; i++) if ($i ~ /^-?[0-9]+(\.[0-9]*)?([eE][-+]?[0-9]+)?$/) $i = sprintf("%.17g", $i)
      print
    }' >"$2/$table.rows"
  done
}

# batch_run DIR DATABASE: `mailsort --batch` in DIR on DATABASE, timed (see
# timed); then DIR/status, the text of MAILSORT.PDF in DIR/MAILSORT.txt and
# the rows of dump_rows.
batch_run() {
  timed "$1" "$1/time" "$build/mailsort" --batch --database "$2"
  echo "$status" >"$1/status"
  [ ! -f "$1/MAILSORT.PDF" ] || pdftotext -layout "$1/MAILSORT.PDF" "$1/MAILSORT.txt"
  dump_rows "$2" "$1"
}

# compare_runs A B [ITEM...]: what two run folders hold, item by item (by
# default the PO files, the text of MAILSORT.PDF, the status and the kvwork
# and bags rows), "same" or "DIFFERENT"; sets $differs to 1 when anything differs.
compare_runs() {
  a=$1 b=$2
  shift 2
  [ $# -gt 0 ] || set -- status POFILE.DAT POLINE.CSV POADDR.CSV POPLAN.CSV MAILSORT.txt kvwork.rows bags.rows
  for item; do
    if [ ! -f "$a/$item" ] && [ ! -f "$b/$item" ]; then
      verdict="same (made by neither)"
    elif [ ! -f "$a/$item" ] || [ ! -f "$b/$item" ]; then
      verdict="DIFFERENT (made by one only)"
    elif first=$(cmp "$a/$item" "$b/$item" 2>&1); then
      verdict=same
    else
      verdict="DIFFERENT ($first)"
    fi
    case $verdict in DIFFERENT*) differs=1 ;; esac
    printf '  %-13s %s\n' "$item" "$verdict"
  done
}
