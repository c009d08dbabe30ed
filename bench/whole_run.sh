#!/bin/sh
# The whole program against the sqlite3 shell doing the same bulk I/O.
#   bench/whole_run.sh [--records N] [--seed S] [--keep DIR] [BUILD_DIR]
# For a plain job and a --geog job (Chain Mode, made by BUILD_DIR's
# mailsort-sample; default build/), it times on copies of the same file:
#   program: mailsort run headless in the job's folder until it exits;
#   shell:   sqlite3 writing kvwork as CSV in Key2 order, then one update of
#            every row in one transaction.
# and prints both times, their ratio and the program's peak resident memory.
set -eu
. "$(dirname "$0")/common.sh"

records=1000000 seed=11 keep=
while [ $# -gt 0 ]; do
  case $1 in
    --records) records=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -*) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
build=$(check_build "${1:-$root/build-release}")
make_work "$keep"
find_stopwatch "$build"
need_disk $((records / 1000000 * 700 + 100))  # one job at a time: two copies, CSVs, journal
export QT_QPA_PLATFORM=offscreen  # no window; each message box answers its default

cat >"$work/baseline.sql" <<'EOF'
.bail on
.mode csv
.output kvwork.csv
select * from kvwork order by seq, mscode;
.output stdout
begin;
update kvwork set sflag = 'Y', seq = seq + 0;
commit;
EOF

echo "build $build, $records records, seed $seed"
printf '%-6s %10s %10s %14s %17s %14s\n' job program shell program/shell "program peak RSS" "peak log"
for job in plain geog; do
  flag=
  [ $job = geog ] && flag=--geog
  mkdir -p "$work/$job/program" "$work/$job/shell"
  make_job "$work/$job" "$records" "$seed" $flag
  cp "$work/$job/mailsort.mdb" "$work/$job/program/"
  mv "$work/$job/mailsort.mdb" "$work/$job/shell/"

  timed "$work/$job/program" "$work/$job/program.time" "$build/mailsort"
  program_s=$seconds program_rss=$rss_kb program_status=$status program_log=$log_mb
  timed "$work/$job/shell" "$work/$job/shell.time" sqlite3 -batch -init /dev/null mailsort.mdb \
    <"$work/baseline.sql"
  shell_s=$seconds shell_status=$status

  printf '%-6s %8s s %8s s %14s %14s MB %11s MB\n' $job "$program_s" "$shell_s" \
    "$(calc "sprintf(\"%.2f\", $program_s / $shell_s)")" "$(calc "int($program_rss / 1024 + 0.5)")" \
    "$program_log"
  check_status mailsort "$program_status" "$work/$job/program/log"
  check_status sqlite3 "$shell_status" "$work/$job/shell/log"
  [ -n "$keep" ] || rm -rf "${work:?}/$job"
done
