#!/bin/sh
# Builds the benchmark in its own build folder and runs it.
#   bench/run.sh [bench_run options]      e.g. bench/run.sh --records 200000
# BUILD_DIR overrides the build folder (default build-bench beside this folder).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-bench}
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null  # a folder already set up keeps its settings
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAILSORT_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target bench_run mailsort-sample -j2 >/dev/null
exec "$build/bench/bench_run" "$@"
