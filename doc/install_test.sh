#!/bin/sh
# Installs a build tree into a scratch prefix and checks the layout a package
# relies on: the programs in bin/, their manual pages under the man
# directory, and each page rendering without a warning, with its EXIT STATUS
# section.
# Usage: install_test.sh <cmake> <build dir> <man dir relative to the prefix>
# Exits 0 on success, 1 on a failed check, 77 when no man program is present.
set -u
cmake=$1
build=$2
mandir=$3

case $mandir in
/*) echo "man directory $mandir is absolute; it would not land in the prefix" >&2
    exit 1 ;;
esac
command -v man >/dev/null 2>&1 || { echo "no man program: skipped"; exit 77; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qzucon-install.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM

fail=0
check() {  # check <description> <command...>
  what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what" >&2
    fail=1
  fi
}

if ! "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "FAILED: cmake --install $build" >&2
  exit 1
fi

for program in qzucon qzuconctl qzstandin qzload; do
  check "bin/$program is an executable" test -x "$tmp/prefix/bin/$program"
  # Compressed as distributions ship them; man reads them as they are.
  page=$tmp/prefix/$mandir/man1/$program.1.gz
  check "$mandir/man1/$program.1.gz is installed" test -f "$page"
  [ -f "$page" ] || continue
  # Written to files: a pipe into grep would hide the status of man.
  MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$page" >"$tmp/page.txt" 2>"$tmp/page.err"
  status=$?
  check "man -l renders $program.1" test "$status" -eq 0
  check "man -l reports nothing on stderr for $program.1" test ! -s "$tmp/page.err"
  check "the rendered $program.1 has EXIT STATUS" grep -q "EXIT STATUS" "$tmp/page.txt"
  [ -s "$tmp/page.err" ] && cat "$tmp/page.err" >&2
done
exit $fail
