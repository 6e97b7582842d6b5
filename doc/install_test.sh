#!/bin/sh
# Installs a build tree into a scratch prefix and checks the layout a package
# relies on: both programs in bin/, the manual page under the man directory,
# and that page rendering with its EXIT STATUS section.
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

check "bin/qzucon is an executable" test -x "$tmp/prefix/bin/qzucon"
check "bin/qzstandin is an executable" test -x "$tmp/prefix/bin/qzstandin"
page=$tmp/prefix/$mandir/man1/qzucon.1
check "$mandir/man1/qzucon.1 is installed" test -f "$page"

if [ -f "$page" ]; then
  # Written to files: a pipe into grep would hide the status of man.
  MANWIDTH=80 MANPAGER=cat PAGER=cat man -l "$page" >"$tmp/page.txt" 2>"$tmp/page.err"
  status=$?
  check "man -l renders the page" test "$status" -eq 0
  check "man -l reports nothing on stderr" test ! -s "$tmp/page.err"
  check "the rendered page has EXIT STATUS" grep -q "EXIT STATUS" "$tmp/page.txt"
  [ -s "$tmp/page.err" ] && cat "$tmp/page.err" >&2
fi
exit $fail
