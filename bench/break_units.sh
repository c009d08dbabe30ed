#!/bin/sh
# Breaks the program on purpose, one unit at a time, and tells which tests
# fail: the check that a test still catches what it was written to catch.
#   bench/break_units.sh [--build DIR] [--only ID] LIST...
# Run in a source tree. Each line of a LIST is
#   ID <tab> FILE <tab> PERL-SUBSTITUTION
# (blank lines and lines starting with # are skipped), e.g.
#   round-half	src/values/rounding.cpp	s/if \(next < 5\)/if (next < 6)/
# For each line the substitution is applied to FILE (it must change it), the
# build folder DIR (default build, configured by the dev preset) is built and
# the whole suite is run; the line printed is "ID: " and the names of the
# failing tests, "ID: NOTHING FAILS", "ID: does not build" or "ID: no match".
# FILE is put back after each line, and when the script is stopped; at the
# end DIR is built again, so that it holds the program as it is.
set -eu
build=build only=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    -*) sed -n '2,15s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] && [ -d "$build" ] || { sed -n '2,15s/^# \{0,1\}//p' "$0" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
saved=$(mktemp "${TMPDIR:-/tmp}/mailsort-break.XXXXXX")
file=
put_back() { [ -z "$file" ] || { cp "$saved" "$file" && touch "$file"; }; file=; }
trap 'put_back; rm -f "$saved" "$saved.list" "$saved.log"' EXIT
trap 'exit 130' INT TERM

tab=$(printf '\t')
cat "$@" >"$saved.list"
while IFS=$tab read -r id path change; do
  case $id in '' | '#'*) continue ;; esac
  [ -z "$only" ] || [ "$id" = "$only" ] || continue
  cp "$path" "$saved"
  file=$path
  CHANGE=$change perl -0pi -e 'eval $ENV{CHANGE}; die $@ if $@' "$path"
  if cmp -s "$path" "$saved"; then
    echo "$id: no match"
  elif ! cmake --build "$build" -j2 >"$saved.log" 2>&1 </dev/null; then
    echo "$id: does not build"
  else
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    ctest --test-dir "$build" -j2 --timeout 120 >/dev/null 2>&1 </dev/null || true
    failed=$(sed 's/^[0-9]*://' "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | sort | tr '\n' ' ')
    echo "$id: ${failed:-NOTHING FAILS}"
  fi
  put_back
done <"$saved.list"
cmake --build "$build" -j2 >/dev/null 2>&1 </dev/null || echo "$build does not build as the tree is" >&2
