#!/bin/sh
# Runs two builds of the program on the same jobs and compares what they leave.
#   bench/compare_outputs.sh [--large N] [--keep DIR] OLD_BUILD_DIR NEW_BUILD_DIR
# Jobs: 20000 records plain, 20000 --geog, N plain (default 1000000), each made
# once by NEW's mailsort-sample and copied for each build, then run headless in
# Chain Mode. Compared byte for byte: the exit status, the kvwork, bags and
# parmcode rows (in rowid order), POFILE.DAT, POLINE.CSV, POADDR.CSV,
# POPLAN.CSV and the text of MAILSORT.PDF. Prints "same" or "DIFFERENT" for each
# and exits 1 when anything differs.
set -eu
. "$(dirname "$0")/common.sh"

large=1000000 keep=
while [ $# -gt 0 ]; do
  case $1 in
    --large) large=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -*) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
old=$(check_build "$1")
new=$(check_build "$2")
build=$new  # the sample generator
make_work "$keep"
need_disk $((large / 1000000 * 800 + 100))
export QT_QPA_PLATFORM=offscreen

# outputs DIR BUILD: runs BUILD's program in DIR and leaves beside the PO files a text
# copy of everything else that is compared.
outputs() {
  (cd "$1" && { "$2/mailsort" >log 2>&1 && echo 0 || echo $?; } >status)
  for table in kvwork bags parmcode; do
    sqlite3 -batch -init /dev/null -quote "$1/mailsort.mdb" \
      "select * from $table order by rowid" >"$1/$table.rows" 2>&1 || true
  done
  [ ! -f "$1/MAILSORT.PDF" ] || pdftotext -layout "$1/MAILSORT.PDF" "$1/MAILSORT.txt"
}

differs=0
echo "old $old"
echo "new $new"
for job in "plain 20000" "geog 20000 --geog" "plain $large"; do
  set -- $job
  name=$1-$2
  make_job "$work/$name" "$2" 11 ${3:-}
  mkdir -p "$work/$name/old" "$work/$name/new"
  cp "$work/$name/mailsort.mdb" "$work/$name/old/"
  mv "$work/$name/mailsort.mdb" "$work/$name/new/"
  outputs "$work/$name/old" "$old"
  outputs "$work/$name/new" "$new"
  cd "$work/$name"
  echo "$name (exit status old $(cat old/status), new $(cat new/status))"
  compare_runs old new status kvwork.rows bags.rows parmcode.rows POFILE.DAT POLINE.CSV POADDR.CSV \
    POPLAN.CSV MAILSORT.txt
  cd "$work"
  [ -n "$keep" ] || rm -rf "${work:?}/$name"
done
[ $differs = 0 ] && echo "all same" || echo "something DIFFERENT"
exit $differs
