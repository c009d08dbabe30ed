#!/usr/bin/env bash
# Printing through a real CUPS: run as root by test.sh after the dev build.
#   scripts/cups_check.sh [BUILD_DIR]    (default build/)
# With cups and printer-driver-cups-pdf (setup.sh installs them as root), it
# starts cupsd when it is not running and adds a cups-pdf queue of its own,
# which it names to the program (--printer) and never makes the default: no
# page goes to any other queue of the machine. Two sample jobs (printer "L"
# and not) then run with mailsort --batch --printer QUEUE; each must say that
# its pages were printed on that queue, and the text of each printed file
# (pdftotext -layout) must equal that of the run's MAILSORT.PDF, page for
# page. Then mailsort --reprint --printer QUEUE sends the kept MAILSORT.PDF
# again: it must say how many pages went to the queue, change no file of
# the job, and the queue must print those pages again (counted with
# pdfinfo, the text equal page for page). The queue and a cupsd started
# here are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "CUPS check not run: it needs root to install cups and to add a printer queue"
  exit 0
fi
command -v cupsd >/dev/null || { echo "$0: cups is not installed (scripts/setup.sh installs it as root)" >&2; exit 1; }

queue=mailsort-cups-check
work=$(mktemp -d)
cupsd_pid=
restore() {
  lpadmin -x "$queue" 2>/dev/null || true
  if [ -n "$cupsd_pid" ]; then kill "$cupsd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap restore EXIT

if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
  cupsd -f &
  cupsd_pid=$!
  for _ in $(seq 50); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.2; done
fi
# The PDF is rendered for the printer by pdftocairo and not scaled, so that
# its text can be read back.
ppd=$(lpinfo -m | awk '/CUPS-PDF_opt/ { print $1; exit }')
lpadmin -p "$queue" -E -v cups-pdf:/ -m "$ppd" -o pdftops-renderer-default=pdftocairo \
  -o print-scaling-default=none 2>/dev/null

# Where cups-pdf puts the files of root's jobs, and of anonymous ones.
out=$(awk '$1 == "Out" { print $2 }' /etc/cups/cups-pdf.conf)
out=${out:-/var/spool/cups-pdf/\${USER\}}
out=${out//\$\{HOME\}/$(getent passwd root | cut -d: -f6)}
out=${out//\$\{USER\}/root}
folders=("$out" /var/spool/cups-pdf/ANONYMOUS)

# The text of a PDF, one page after the other, blanks runs squeezed: the
# printer's filter embeds the font anew, which moves pdftotext's columns by
# a blank here and there but never changes a word, a line or a page.
text() { pdftotext -layout "$1" - | sed 's/  */ /g'; }

# Waits for the queue to empty, then finds among the files printed since
# $work/mark one with the pages and text of $job/MAILSORT.PDF (other
# programs may print meanwhile) and removes it. $1 is the job's printer
# field, $2 what the check was.
printed_as() {
  for _ in $(seq 120); do [ -z "$(lpstat -o "$queue" 2>/dev/null)" ] && break; sleep 0.5; done
  local match= printed
  while read -r printed; do
    if [ "$(text "$printed")" = "$(text "$job/MAILSORT.PDF")" ] &&
       [ "$(pdfinfo "$printed" | grep Pages)" = "$(pdfinfo "$job/MAILSORT.PDF" | grep Pages)" ]; then
      match=$printed
      rm -f "$printed"
    fi
  done < <(find "${folders[@]}" -name '*.pdf' -newer "$work/mark" 2>/dev/null)
  if [ -n "$match" ]; then
    echo "CUPS check, printer \"$1\"$2: the printed file has the text of MAILSORT.PDF, page for page"
  else
    echo "CUPS check, printer \"$1\"$2: FAILED: no file printed to $queue equals MAILSORT.PDF" >&2
    return 1
  fi
}

status=0
for printer in N L; do
  job=$work/$printer
  mkdir -p "$job"
  "$build/mailsort-sample" --out "$job" --records 3000 >/dev/null
  sqlite3 "$job/mailsort.mdb" "update parmcode set printer = '$printer'"
  touch "$work/mark"
  "$build/mailsort" --batch -C "$job" --printer "$queue" 2>"$job/said"
  pages=$(pdfinfo "$job/MAILSORT.PDF" | awk '/^Pages:/ { print $2 }')
  if ! grep -qx "  $pages pages printed on $queue, and kept in MAILSORT.PDF" "$job/said"; then
    echo "CUPS check, printer \"$printer\": FAILED: the run did not say its $pages pages were printed on $queue" >&2
    status=1
  fi
  printed_as "$printer" "" || status=1

  # Printing again: the same pages, nothing of the job changed.
  [ "$printer" = L ] || continue
  (cd "$job" && sha256sum mailsort.mdb PO* MAILSORT.PDF) >"$work/before"
  touch "$work/mark"
  if "$build/mailsort" --reprint -C "$job" --printer "$queue" 2>"$job/said-again"; then
    if ! grep -qx "$pages pages printed on $queue, from $(cd "$job" && pwd -P)/MAILSORT.PDF" "$job/said-again"; then
      echo "CUPS check, reprint: FAILED: it did not say its $pages pages were printed on $queue" >&2
      cat "$job/said-again" >&2
      status=1
    fi
  else
    echo "CUPS check, reprint: FAILED: mailsort --reprint ended with status $?" >&2
    cat "$job/said-again" >&2
    status=1
  fi
  if ! (cd "$job" && sha256sum --quiet -c "$work/before"); then
    echo "CUPS check, reprint: FAILED: the job's files changed" >&2
    status=1
  fi
  printed_as "$printer" ", printed again" || status=1
done
exit $status
