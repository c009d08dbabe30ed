# Sourced by the benchmark scripts: the build under test, a work folder that
# is removed at the end, the stopwatch, and a few helpers.

bench_dir=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$bench_dir")

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
# in DIR/log and sets $seconds, $rss_kb and $status from the stopwatch.
timed() {
  dir=$1 result=$2
  shift 2
  sync  # the job's copies are on disk before the clock starts
  (cd "$dir" && "$stopwatch" "$result" "$@" >log 2>&1)
  read -r seconds rss_kb status <"$result"
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
