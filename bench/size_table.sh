#!/bin/sh
# The program's cost against the size of the job.
#   bench/size_table.sh [--sizes "N N ..."] [--seed S] [BUILD_DIR]
# For each size (default 100000 1000000 5000000) it makes a plain Chain Mode
# job with BUILD_DIR's mailsort-sample (default build/), runs mailsort
# headless in the job's folder and prints the time the sample took to make,
# the program's time, its time per record and its peak resident memory.
# One job is on disk at a time: about 260 MB per million records.
set -eu
. "$(dirname "$0")/common.sh"

sizes="100000 1000000 5000000" seed=11
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) sizes=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    -*) sed -n '2,8s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
build=$(check_build "${1:-$root/build-release}")
make_work ""
find_stopwatch "$build"
export QT_QPA_PLATFORM=offscreen

echo "build $build, seed $seed, plain jobs"
printf '%10s %10s %10s %12s %10s %10s\n' records sample program "per record" "peak RSS" "peak log"
for records in $sizes; do
  need_disk $((records / 1000000 * 300 + 100))
  mkdir -p "$work/job"
  timed "$work" "$work/sample.time" "$build/mailsort-sample" --out job --records "$records" \
    --seed "$seed" --chain
  sample_s=$seconds
  timed "$work/job" "$work/program.time" "$build/mailsort"
  printf '%10s %8s s %8s s %9s us %7s MB %7s MB\n' "$records" "$sample_s" "$seconds" \
    "$(calc "sprintf(\"%.2f\", $seconds * 1e6 / $records)")" "$(calc "int($rss_kb / 1024 + 0.5)")" "$log_mb"
  check_status mailsort "$status" "$work/job/log"
  rm -rf "$work/job"
done
