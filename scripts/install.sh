#!/usr/bin/env bash
# Installs a built tree for this user and makes sure there is a ledger:
#   bash scripts/install.sh BUILD_DIR
# The program directory is ~/.local/lib/pennacle, or PENNACLE_HOME=DIR. The ledger there
# (data.kdb, data.KDT) and its backups/ are never touched by a reinstall. A ledger that an earlier
# run command kept in build/bin/ is moved over once, when the program directory has none yet; when
# there is still none, kdbtool makes an empty one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: install.sh BUILD_DIR}
prefix="$HOME/.local"
home=$(realpath -m "${PENNACLE_HOME:-$prefix/lib/pennacle}")
# Where the run command used to keep the ledger (the test points this elsewhere).
old_dir=${PENNACLE_OLD_DATA_DIR:-build/bin}

PENNACLE_HOME="$home" cmake --install "$build" --prefix "$prefix"

# True when a running process (a Pennacle started from the build folder) has the file open.
open_somewhere() {
  local file fd
  file=$(realpath "$1")
  for fd in /proc/[0-9]*/fd/*; do
    [[ $(readlink "$fd" 2>/dev/null) == "$file" ]] && return 0
  done
  return 1
}

# Copies beside the new place, synced, renamed into place (data.KDT first, data.kdb last), then
# the old files removed: a stop halfway leaves the ledger whole in one of the two places.
move_old_ledger() {
  local name
  if open_somewhere "$old_dir/data.kdb"; then
    echo "$old_dir/data.kdb is open in a running Pennacle: close it, then run this again." >&2
    exit 1
  fi
  for name in data.KDT data.kdb; do
    [[ -e $old_dir/$name ]] || continue
    cp -p "$old_dir/$name" "$home/$name.moving"
    sync "$home/$name.moving"
  done
  for name in data.KDT data.kdb; do
    [[ -e $home/$name.moving ]] && mv -f "$home/$name.moving" "$home/$name"
  done
  sync "$home"
  rm -f "$old_dir/data.kdb" "$old_dir/data.KDT"
  echo "Moved your ledger from $old_dir/data.kdb (with data.KDT) to $home/data.kdb."
}

if [[ -e $old_dir/data.kdb ]]; then
  if [[ -e $home/data.kdb ]]; then
    echo "Left $old_dir/data.kdb where it is: $home already holds a ledger."
  else
    move_old_ledger
  fi
fi
if [[ ! -e $home/data.kdb ]]; then
  if [[ -e $home/data.kdb.restoring ]]; then
    echo "An interrupted restore left $home/data.kdb.restoring: run the same kdbtool restore again." >&2
    exit 1
  fi
  "$home/kdbtool" create "$home/data.kdb"
  echo "Made an empty ledger: $home/data.kdb"
fi
echo "Pennacle is installed in $home; your ledger is $home/data.kdb (snapshots in $home/backups/)."
