#!/bin/bash
# Builds the tarball from the build tree, in a scratch folder, and checks its
# file list: the programs, their manual pages, the documents and examples and
# the bash completion. When dpkg-deb is present the Debian package is built
# too and its control fields and paths checked, and Debian's own checker
# lintian must find no error in it (installed with apt-get when missing and
# run as root; skipped with a note otherwise).
# Usage: package_test.sh <cpack> <build dir>
# Exits 77 when cpack is missing.
cpack=$1
build=$2
[ -x "$cpack" ] || { echo "no cpack: skipped"; exit 77; }
. "$(dirname "$0")/lib.sh"

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
check "the package has a version" [ -n "$version" ]

# The paths every package holds, below its prefix.
want=(
  bin/qzucon bin/qzuconctl bin/qzstandin bin/qzload
  share/man/man1/qzucon.1.gz share/man/man1/qzuconctl.1.gz share/man/man1/qzstandin.1.gz
  share/man/man1/qzload.1.gz
  share/doc/qzucon/README.md share/doc/qzucon/LICENSE share/doc/qzucon/copyright
  share/doc/qzucon/changelog.gz
  share/doc/qzucon/examples/qzucon.ini
  share/doc/qzucon/examples/qzucon@.service
  share/doc/qzucon/examples/qzucon.logrotate
  share/doc/qzucon/examples/qzucon.rules.yml
  share/doc/qzucon/examples/qzucon-prometheus.yml
  share/doc/qzucon/examples/alertmanager.yml
  share/doc/qzucon/examples/qzucon-oneshot
  share/doc/qzucon/examples/qzucon-service-setup
  share/doc/qzucon/examples/qzucon-start
  share/doc/qzucon/examples/qzucon-rolling-restart
  share/doc/qzucon/examples/qzucon-send@.service
  share/doc/qzucon/examples/qzucon-send@.timer
  share/doc/qzucon/guide.md share/doc/qzucon/performance.md
  share/doc/qzucon/examples/send-tcp.sh
  share/doc/qzucon/examples/send-udp.sh
  share/doc/qzucon/examples/send-every-server.sh
  share/bash-completion/completions/qzucon
  share/bash-completion/completions/qzuconctl
  share/bash-completion/completions/qzstandin
  share/bash-completion/completions/qzload
)
# has <listing> <prefix> <what>: every wanted path appears in the listing.
has() {
  local listing=$1 prefix=$2 what=$3 path
  for path in "${want[@]}"; do
    check "$what holds $path" grep -qxF "$prefix$path" "$listing"
  done
}

if "$cpack" -G TGZ --config "$build/CPackConfig.cmake" -B "$scratch/tgz" >"$scratch/tgz.out" 2>&1; then
  tgz=$(find "$scratch/tgz" -maxdepth 1 -name '*.tar.gz' 2>/dev/null | head -n 1)
  check "cpack -G TGZ makes a tarball" [ -n "$tgz" ]
  if [ -n "$tgz" ]; then
    tar tzvf "$tgz" >"$scratch/tgz.list"
    awk '{print $6}' "$scratch/tgz.list" >"$scratch/tgz.files"
    top=$(head -n 1 "$scratch/tgz.files" | cut -d/ -f1)
    check "the tarball is named for version $version" grep -q -- "-$version-" <<<"$tgz"
    has "$scratch/tgz.files" "$top/" "the tarball"
    check "the one-shot script is executable in the tarball" \
      grep -qE "^-rwx.* $top/share/doc/qzucon/examples/qzucon-oneshot$" "$scratch/tgz.list"
  fi
else
  fail "cpack -G TGZ"
  cat "$scratch/tgz.out" >&2
fi

command -v dpkg-deb >/dev/null || { echo "no dpkg-deb: Debian package not checked"; exit; }
if "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/deb.out" 2>&1; then
  deb=$(find "$scratch/deb" -maxdepth 1 -name '*.deb' 2>/dev/null | head -n 1)
  check "cpack -G DEB makes a package" [ -n "$deb" ]
  if [ -n "$deb" ]; then
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' >"$scratch/deb.files"
    has "$scratch/deb.files" usr/ "the Debian package"
    check "the Debian package is named qzucon" [ "$(dpkg-deb -f "$deb" Package)" = qzucon ]
    check "the Debian package has version $version" [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
    check "the Debian package depends on the C library" \
      grep -q libc6 <<<"$(dpkg-deb -f "$deb" Depends)"
    check "the Debian package depends on RE2" \
      grep -q libre2-9 <<<"$(dpkg-deb -f "$deb" Depends)"
    check "the Debian package depends on ncurses (qzuconctl top)" \
      grep -q libncursesw6 <<<"$(dpkg-deb -f "$deb" Depends)"
    if ! command -v lintian >/dev/null && [ "$(id -u)" = 0 ]; then
      apt-get install -y -q lintian >"$scratch/apt.out" 2>&1
    fi
    if command -v lintian >/dev/null; then
      lintian --fail-on error "$deb" >"$scratch/lintian.out" 2>&1
      status=$?
      cat "$scratch/lintian.out"
      check "lintian finds no error in the Debian package (status $status)" [ "$status" = 0 ]
    else
      echo "no lintian (and not root to install it): the Debian package not checked by it"
    fi
  fi
else
  fail "cpack -G DEB"
  cat "$scratch/deb.out" >&2
fi
