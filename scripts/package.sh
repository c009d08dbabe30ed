#!/usr/bin/env bash
# Builds the Debian package from debian/ with dpkg-buildpackage (a release
# build without the tests, with Debian's hardening flags) and checks it with
# lintian: an error or a warning fails, and so does a file missing from the
# package. The packages (mailsort and its debug symbols, mailsort-dbgsym),
# the .buildinfo and the .changes are left in build-deb/; install with
#   apt-get install ./build-deb/mailsort_<version>_amd64.deb
# As root on a fresh Debian 12 machine it first installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

extra_packages=(debhelper lintian desktop-file-utils)
source scripts/setup.sh

# Checked here since lintian does not run desktop-file-validate.
desktop-file-validate packaging/mailsort.desktop

version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
changes=mailsort_${version}_${arch}.changes
rm -rf build-deb
# debian/rules fails when debian/changelog's version is not project()'s.
dpkg-buildpackage -us -uc -b -J2 -tc

# dpkg-buildpackage writes next to the source tree: the files the .changes
# lists, and itself, are moved into build-deb/.
mkdir -p build-deb
for f in $(awk '/^Files:/ { files = 1; next } /^[^ ]/ { files = 0 } files { print $5 }' "../$changes") "$changes"; do
  mv "../$f" build-deb/
done
deb=build-deb/mailsort_${version}_${arch}.deb

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in usr/bin/mailsort usr/bin/mailsort-sample usr/share/man/man1/mailsort.1.gz \
            usr/share/man/man1/mailsort-sample.1.gz usr/share/applications/mailsort.desktop \
            usr/share/icons/hicolor/scalable/apps/mailsort.svg usr/share/doc/mailsort/copyright \
            usr/share/doc/mailsort/changelog.gz usr/share/doc/mailsort/README.md usr/share/doc/mailsort/store.md \
            usr/share/doc/mailsort/schema.sql usr/share/doc/mailsort/schema-postgresql.sql; do
  grep -qx "./$path" <<<"$contents" || { echo "$0: $deb lacks /$path" >&2; exit 1; }
done

lintian --fail-on error,warning "build-deb/$changes"
echo "scripts/package.sh: $deb built; lintian reports no error and no warning"
