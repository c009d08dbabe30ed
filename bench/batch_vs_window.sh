#!/bin/sh
# The window run against the batch run of the same job: both are the run
# driver, with the Progress Window or with the progress on standard error.
#   bench/batch_vs_window.sh [--records N] [--seed S] [--runs R] [BUILD_DIR]
# Makes one plain Chain Mode job (default 1,000,000 records, seed 11) and,
# R times (default 2), times on fresh copies of it:
#   window: mailsort in the job's folder, offscreen, ending as Chain Mode ends;
#   batch:  mailsort --batch -C JOB, its progress lines going to a file.
# Prints each time, the totals' ratio window/batch, and exits 1 when the
# window run takes more than 1.25 times the batch run.
set -eu
. "$(dirname "$0")/common.sh"

records=1000000 seed=11 runs=2
while [ $# -gt 0 ]; do
  case $1 in
    --records) records=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -*) sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
build=$(check_build "${1:-$root/build-release}")
make_work ""
find_stopwatch "$build"
need_disk $((records / 1000000 * 500 + 100))  # the job, one copy and its PO files

export QT_QPA_PLATFORM=offscreen  # the window run's; the batch run needs none
echo "build $build, $records records, seed $seed"
make_job "$work/job" "$records" "$seed"
window_total=0 batch_total=0
printf '%-4s %10s %10s\n' run window batch
for run in $(seq "$runs"); do
  for mode in window batch; do
    rm -rf "$work/$mode" && mkdir "$work/$mode"
    cp "$work/job/mailsort.mdb" "$work/$mode/"
    if [ $mode = window ]; then
      timed "$work/$mode" "$work/$mode.time" "$build/mailsort"
    else
      timed "$work/$mode" "$work/$mode.time" "$build/mailsort" --batch -C "$work/$mode"
    fi
    check_status "mailsort ($mode)" "$status" "$work/$mode/log"
    eval "${mode}_s=\$seconds"
    eval "${mode}_total=\$(calc \"\$${mode}_total + \$seconds\")"
  done
  printf '%-4s %8s s %8s s\n' "$run" "$window_s" "$batch_s"
  rm -rf "${work:?}/window" "${work:?}/batch"
done
ratio=$(calc "sprintf(\"%.2f\", $window_total / $batch_total)")
echo "window/batch: $ratio (at most 1.25)"
[ "$(calc "$ratio <= 1.25")" = 1 ]
