#!/usr/bin/env bash
# Removes the installed programs, kdbtool, their links, the desktop entries and the icon. The ledger
# (data.kdb, data.KDT) and backups/ stay in the program directory; delete that folder by hand to
# delete them too. PENNACLE_HOME=DIR as for the install.
set -euo pipefail
prefix="$HOME/.local"
home=$(realpath -m "${PENNACLE_HOME:-$prefix/lib/pennacle}")
for name in pennacle pennacle-books kdbtool; do
  link="$prefix/bin/$name"
  if [[ -L $link && $(readlink "$link") == "$home/$name" ]]; then rm -f "$link"; fi
  rm -f "$home/$name"
done
# The entries and the icon go with the install they belong to (PENNACLE_HOME may have moved them on).
entry="$prefix/share/applications/pennacle.desktop"
books_entry="$prefix/share/applications/pennacle-books.desktop"
if [[ -f $books_entry ]] && grep -qF "$home/pennacle-books" "$books_entry"; then rm -f "$books_entry"; fi
if [[ -f $entry ]] && grep -qF "$home/pennacle" "$entry"; then
  rm -f "$entry" "$prefix/share/icons/hicolor/scalable/apps/pennacle.svg"
fi
if rmdir "$home" 2>/dev/null; then
  echo "Pennacle is removed."
else
  echo "Pennacle is removed. Your ledger stays in $home (data.kdb, data.KDT, backups/)."
fi
