#!/bin/sh
# Kills batch runs on PostgreSQL with SIGKILL at random moments, then checks
# that the next run still gets the gate, finishes, and leaves what an
# undisturbed run leaves.
#   bench/kill_postgres.sh [--records N] [--kills K] [--seed S] [--geog]
#                          [--postgres URI] [--sqlite] [--keep DIR] [BUILD_DIR]
# mailsort-sample makes the same job (default 200000 records, seed 11, Chain
# Mode) in two schemas of their own. `mailsort --batch` runs the first
# undisturbed, which also gives the length T of a run. On the second, K runs
# (default 5), each a fresh run on what the one before left, are killed at a
# random moment between 0 and T; then one more run must end with status 0.
# Its outputs are compared with the undisturbed run's as compare_engines.sh
# compares them: "same" or "DIFFERENT" for each; exits 1 when that run did
# not finish or anything differs. The server is found as compare_engines.sh finds it. --sqlite does
# the same on two SQLite files, for comparison. BUILD_DIR defaults to
# build-release.
set -eu
. "$(dirname "$0")/common.sh"

usage() {
  sed -n '2,17s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
case " $* " in *" --sqlite "*) ;; *) in_postgres_cluster "$@" ;; esac
records=200000 kills=5 seed=11 job_options= sqlite= keep= base=${MAILSORT_TEST_POSTGRES:-}
while [ $# -gt 0 ]; do
  case $1 in
    --records) records=$2; shift 2 ;;
    --kills) kills=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --geog) job_options=--geog; shift ;;
    --postgres) base=$2; shift 2 ;;
    --sqlite) sqlite=1; shift ;;
    --keep) keep=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -le 1 ] || usage
build=$(check_build "${1:-$root/build-release}")
make_work "$keep"
find_stopwatch "$build"
need_disk $((records / 1000000 * 1000 + 100))
if [ -n "$keep" ]; then
  echo "kept: $work and the schemas undisturbed_$$ and killed_$$"
elif [ -z "$sqlite" ]; then
  trap 'drop_schemas "$base" undisturbed_$$ killed_$$; rm -rf "$work"' EXIT
fi
export QT_QPA_PLATFORM=offscreen

# job NAME: the database of the job NAME, made anew.
job() {
  mkdir -p "$work/$1"
  if [ -n "$sqlite" ]; then db=$work/$1/mailsort.mdb; else db=$(schema_uri "$base" "$1_$$"); fi
  "$build/mailsort-sample" --database "$db" --records "$records" --seed "$seed" --chain $job_options >/dev/null
}

echo "$records records, seed $seed${job_options:+ $job_options}, ${sqlite:+SQLite, }build $build"
job undisturbed
batch_run "$work/undisturbed" "$db"
echo "  undisturbed run: $seconds s, status $status"
check_status undisturbed "$status" "$work/undisturbed/log"
length=$seconds

job killed
run=1
while [ $run -le "$kills" ]; do
  at=$(awk -v seed="$seed" -v run=$run -v t="$length" 'BEGIN { srand(seed * 1000 + run); printf "%.2f", rand() * t }')
  (cd "$work/killed" && exec "$build/mailsort" --batch --database "$db" >>log 2>&1) &
  pid=$!
  sleep "$at"
  if kill -9 $pid 2>/dev/null; then what=killed; else what="ended before"; fi
  wait $pid 2>/dev/null && ended=0 || ended=$?
  echo "  run $run: $what at $at s (status $ended)"
  run=$((run + 1))
done
batch_run "$work/killed" "$db"
echo "  run after the kills: $seconds s, status $status"
check_status "run after the kills" "$status" "$work/killed/log"

differs=0
[ "$status" = 0 ] || { echo "  the run after the kills did not finish"; differs=1; }
compare_runs "$work/undisturbed" "$work/killed"
[ $differs = 0 ] && echo "all same" || echo "something DIFFERENT"
exit $differs
