#!/usr/bin/env bash
# Builds mailsort into build/, makes a sample job in demo/ and runs the
# program there: in a window when there is a display, otherwise headless in
# Chain Mode. Ends by showing what the run left behind.
# As root on a fresh Debian 12 machine it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/setup.sh
cmake --build build -j2 --target mailsort mailsort-sample

rm -rf demo
mkdir -p demo
status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/mailsort-sample --out demo
  echo "Running build/mailsort in demo/ (press OK in the window to start the run)"
  (cd demo && ../build/mailsort) || status=$?
else
  build/mailsort-sample --out demo --chain
  echo "No display: running build/mailsort headless in Chain Mode in demo/"
  (cd demo && QT_QPA_PLATFORM=offscreen ../build/mailsort) || status=$?
fi

echo
echo "mailsort ended with status $status. The run left in $(pwd)/demo:"
for f in mailsort.mdb POFILE.DAT POLINE.CSV POADDR.CSV POPLAN.CSV MAILSORT.PDF; do
  if [ -f "demo/$f" ]; then
    printf '  %-14s %10s bytes\n' "$f" "$(stat -c %s "demo/$f")"
  else
    printf '  %-14s (not written)\n' "$f"
  fi
done
if [ -f demo/mailsort.mdb ]; then
  echo "  kvwork: $(sqlite3 demo/mailsort.mdb 'SELECT COUNT(*) FROM kvwork') address records," \
       "$(sqlite3 demo/mailsort.mdb "SELECT COUNT(*) FROM kvwork WHERE sflag = 'Y'") moved to residue"
  echo "  bags:   $(sqlite3 demo/mailsort.mdb 'SELECT COUNT(*) FROM bags' 2>/dev/null || echo 'no') records for the label program"
  echo "  flags:  $(sqlite3 demo/mailsort.mdb 'SELECT RunAlone, RunCodes, RunReports, RunLabels FROM parmcode' \
       | sed 's/^/RunAlone|RunCodes|RunReports|RunLabels = /')"
fi
if [ -f demo/MAILSORT.PDF ] && command -v pdftotext >/dev/null; then
  echo "  MAILSORT.PDF: $(pdftotext demo/MAILSORT.PDF - | grep -c '') lines of report text" \
       "(first: $(pdftotext demo/MAILSORT.PDF - | grep -m1 -v '^\s*$' || true))"
fi
exit "$status"
