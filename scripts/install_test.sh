#!/usr/bin/env bash
# The run command's install steps (scripts/install.sh) on an already built tree, in a temporary
# HOME (with a space in it, which the desktop entry must quote):
#   bash scripts/install_test.sh BUILD_DIR
# A fresh install makes the program directory with the program and data.kdb and a desktop entry
# that validates; a second install keeps the bills; removing the build folders keeps them; a
# ledger in build/bin/ moves over once; PENNACLE_HOME installs elsewhere; uninstalling keeps the
# ledger. Never writes to the real HOME.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:?usage: install_test.sh BUILD_DIR}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp/home of tester"
mkdir -p "$HOME"
unset PENNACLE_HOME
# Stands for the checkout's build folders, where the earlier run command kept the ledger.
checkout="$tmp/checkout"
export PENNACLE_OLD_DATA_DIR="$checkout/build/bin"
home="$HOME/.local/lib/pennacle"
failures=0

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
install() { bash "$src/scripts/install.sh" "$build" >"$tmp/out" 2>&1 || { cat "$tmp/out" >&2; return 1; }; }
said() { grep -qF "$1" "$tmp/out"; }
bills() { "$home/kdbtool" export "$1" | tail -n +2 | wc -l; }
has_bills() { [[ $(bills "$1") == "$2" ]]; }
make_ledger() {  # make_ledger FILE N: a ledger of N bills, made with the build's own kdbtool
  local i csv="$tmp/bills.csv"
  echo "类型,金额,付款方式,时间,备注" >"$csv"
  for ((i = 1; i <= $2; i++)); do echo "支出,$i,微信,2024-05-0$((i % 9 + 1)) 12:00:00,第$i笔" >>"$csv"; done
  mkdir -p "$(dirname "$1")"
  "$build/bin/kdbtool" create "$1" && "$build/bin/kdbtool" import "$1" "$csv" >/dev/null
}
validates() { [[ -z $(desktop-file-validate "$1" 2>&1) ]]; }
links_to() { [[ -L $1 && $(readlink -f "$1") == "$2" ]]; }
# No run-time search path into the build tree: the installed program needs nothing from it.
no_build_paths() { ! readelf -d "$1" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; }
has_snapshot_and_ledger() { [[ -f $home/data.kdb && -f $home/data.KDT && -n $(ls "$home/backups"/*.kdb) ]]; }
audits() { "$home/kdbtool" check "$1" >/dev/null; }

# 1. A fresh install.
check "fresh install" install
check "the program and kdbtool are files of their own" test -f "$home/pennacle" -a ! -L "$home/pennacle" -a -x "$home/kdbtool"
check "an empty ledger is made" has_bills "$home/data.kdb" 0
check "it says so" said "Made an empty ledger"
check "links in ~/.local/bin" links_to "$HOME/.local/bin/pennacle" "$home/pennacle"
check "kdbtool link" links_to "$HOME/.local/bin/kdbtool" "$home/kdbtool"
entry="$HOME/.local/share/applications/pennacle.desktop"
check "desktop entry validates" validates "$entry"
check "desktop entry names the installed program" grep -qxF "Exec=\"$home/pennacle\"" "$entry"
check "desktop entry has a Chinese name" grep -q '^Name\[zh_CN\]=' "$entry"
check "desktop entry categories" grep -qx 'Categories=Office;Finance;' "$entry"
books_entry="$HOME/.local/share/applications/pennacle-books.desktop"
check "the second window is installed beside it" test -x "$home/pennacle-books" -a ! -L "$home/pennacle-books"
check "with its link" links_to "$HOME/.local/bin/pennacle-books" "$home/pennacle-books"
check "and its own desktop entry, which validates" validates "$books_entry"
check "that entry names the installed second window" grep -qxF "Exec=\"$home/pennacle-books\"" "$books_entry"
check "under its own name" grep -qxF 'Name=Pennacle 账本' "$books_entry"
check "icon" test -s "$HOME/.local/share/icons/hicolor/scalable/apps/pennacle.svg"
check "the programs do not reach into the build folder" no_build_paths "$home/pennacle"

# 2. Bills and a snapshot; a second install keeps both.
make_ledger "$tmp/three.kdb" 3
"$home/kdbtool" export "$tmp/three.kdb" >/dev/null
cp "$tmp/three.kdb" "$home/data.kdb" && cp "$tmp/three.KDT" "$home/data.KDT"
"$home/kdbtool" backup "$home/data.kdb" >/dev/null
check "second install" install
check "the second install keeps the bills" has_bills "$home/data.kdb" 3
check "and the snapshot" test "$(ls "$home/backups" | grep -c '\.kdb$')" = 1
# The program directory is the user's: kdbtool given no FILE works on the ledger beside it.
default_is_beside() { [[ $("$home/kdbtool" backups | tail -n 1) == "1 snapshot(s) in $home/backups" ]]; }
check "kdbtool with no FILE uses the ledger beside the program" default_is_beside

# 3. A ledger left in build/bin by the earlier run command does not move over an existing one, and
#    removing every build folder keeps the installed ledger.
make_ledger "$checkout/build/bin/data.kdb" 5
check "install beside an old ledger" install
check "the existing ledger wins" has_bills "$home/data.kdb" 3
check "it says the old one is left" said "Left $checkout/build/bin/data.kdb where it is"
rm -rf "$checkout"/build*
check "removing every build folder keeps the bills" has_bills "$home/data.kdb" 3
check "the installed kdbtool still audits it" audits "$home/data.kdb"

# 4. A fresh home with an old ledger: moved over once, with its .KDT.
rm -rf "$HOME/.local"
make_ledger "$checkout/build/bin/data.kdb" 5
check "install moves the old ledger" install
check "it says so" said "Moved your ledger from $checkout/build/bin/data.kdb"
check "the moved ledger has its bills" has_bills "$home/data.kdb" 5
check "with its remarks (the .KDT came along)" audits "$home/data.kdb"
check "the old files are gone" test ! -e "$checkout/build/bin/data.kdb" -a ! -e "$checkout/build/bin/data.KDT"
make_ledger "$checkout/build/bin/data.kdb" 2
check "reinstall" install
check "the move happened once" has_bills "$home/data.kdb" 5
check "a later old ledger stays put" test -e "$checkout/build/bin/data.kdb"

# 5. PENNACLE_HOME installs into another program directory; the default one keeps its ledger.
other="$tmp/other home"
check "PENNACLE_HOME install" env PENNACLE_HOME="$other" bash -c 'bash "$0"/scripts/install.sh "$1" >/dev/null' "$src" "$build"
check "another program directory with its own ledger" test -x "$other/pennacle" -a -f "$other/data.kdb"
check "the default one is untouched" has_bills "$home/data.kdb" 5

# 6. Uninstalling removes the programs, links and entry and keeps each ledger.
"$home/kdbtool" backup "$home/data.kdb" >/dev/null
PENNACLE_HOME="$other" bash "$src/scripts/uninstall.sh" >"$tmp/out"
check "uninstalling the other one keeps its ledger" test ! -e "$other/pennacle" -a -f "$other/data.kdb"
check "and says where" said "Your ledger stays in $other"
check "its links and entry go" test ! -e "$HOME/.local/bin/pennacle" -a ! -e "$entry" -a ! -e "$books_entry"
bash "$src/scripts/uninstall.sh" >"$tmp/out"
check "uninstall removes the programs" test ! -e "$home/pennacle" -a ! -e "$home/pennacle-books" -a ! -e "$home/kdbtool"
check "uninstall keeps the ledger and its snapshots" has_snapshot_and_ledger
((failures == 0)) || { echo "$failures check(s) failed" >&2; exit 1; }
