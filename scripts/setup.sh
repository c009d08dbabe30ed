# Sourced by demo.sh, test.sh and package.sh: the Debian packages mailsort
# needs, installed when missing (as root), and the dev preset's build folder (build/) configured.

packages=(build-essential cmake pkg-config qt6-base-dev libsqlite3-dev libgtest-dev libgmock-dev
          fonts-liberation poppler-utils sqlite3 file dpkg-dev libpq-dev libcups2-dev)
# test.sh checks printing through a real CUPS and runs the PostgreSQL half of
# the tests in a throw-away cluster, as root only.
[ "$(id -u)" -ne 0 ] || packages+=(cups printer-driver-cups-pdf postgresql postgresql-common)
# A script that needs more names them in extra_packages before sourcing this
# (package.sh: the tools that build and check the Debian package).
packages+=(${extra_packages[@]+"${extra_packages[@]}"})

install_missing() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "mailsort needs packages that are not installed; as root run: apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

install_missing
cmake --preset dev
