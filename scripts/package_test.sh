#!/usr/bin/env bash
# Checks a built Debian package and installs it on this machine, as a person would:
#   bash scripts/package_test.sh build-package/pennacle_<version>_amd64.deb
# 1. lintian reports no error; appstreamcli validates the metadata (--no-net: its screenshot and
#    homepage URLs are not fetched) and desktop-file-validate the menu entry; the package holds the
#    programs, the commands, the icons at every size, the copyright file and the changelog.
# 2. apt-get installs it; a throwaway user with a fresh HOME starts pennacle under Xvfb, which
#    makes the ledger in ~/.local/share/pennacle and says so once; kdbtool (no FILE) backs it up.
# 3. apt-get remove takes the programs and leaves that ledger as it was.
# Needs root (apt-get, useradd): skipped with a message otherwise. The user and the package are
# removed at the end, whatever happened.
set -euo pipefail
deb=$(realpath "${1:?usage: package_test.sh DEB}")
if ((EUID != 0)); then
  echo "package_test: skipped: installing a package and adding a user need root"
  exit 0
fi
tmp=$(mktemp -d)
user="pnpkg$$"
home="/tmp/$user-home"
failures=0

cleanup() {
  userdel --remove "$user" >/dev/null 2>&1 || true
  # Qt's runtime directory when XDG_RUNTIME_DIR is unset.
  rm -rf "$home" "$tmp" "/tmp/runtime-$user"
  if dpkg-query -W -f='${Status}' pennacle 2>/dev/null | grep -q 'install ok installed'; then
    apt-get remove -y -qq pennacle >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
holds() { grep -qxF "$1" "$tmp/contents"; }
png_size() { [[ $(identify -format '%wx%h' "$tmp/root/usr/share/icons/hicolor/$1/apps/pennacle.png") == "$1" ]]; }
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
said_times() { grep -c "made an empty ledger: $ledger" "$1" || true; }

# 1. The package as a file.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$tmp/contents"
dpkg-deb -x "$deb" "$tmp/root"
for f in /usr/lib/pennacle/pennacle /usr/lib/pennacle/pennacle-books /usr/lib/pennacle/kdbtool \
  /usr/share/doc/pennacle/copyright /usr/share/doc/pennacle/changelog.gz /usr/share/applications/pennacle.desktop \
  /usr/share/applications/pennacle-books.desktop /usr/share/icons/hicolor/scalable/apps/pennacle.svg \
  /usr/share/man/man1/pennacle.1.gz /usr/share/man/man1/pennacle-books.1.gz; do
  check "the package holds $f" holds "$f"
done
check "/usr/bin/pennacle links to the program" test "$(readlink "$tmp/root/usr/bin/pennacle")" = ../lib/pennacle/pennacle
check "/usr/bin/pennacle-books links to the second window" test "$(readlink "$tmp/root/usr/bin/pennacle-books")" = ../lib/pennacle/pennacle-books
check "/usr/bin/kdbtool links to kdbtool" test "$(readlink "$tmp/root/usr/bin/kdbtool")" = ../lib/pennacle/kdbtool
for size in 16x16 32x32 48x48 64x64 128x128 256x256; do check "a $size icon" png_size "$size"; done
check "dependencies from dpkg-shlibdeps" bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6 (>='"
lintian_ok() { lintian --allow-root --pedantic "$deb" >"$tmp/lintian" 2>&1 && ! grep -q '^E:' "$tmp/lintian"; }
check "lintian reports no error" lintian_ok
echo "lintian --pedantic: $(grep -c . "$tmp/lintian") line(s)"
cat "$tmp/lintian"
metainfo=$(ls "$tmp"/root/usr/share/metainfo/*.metainfo.xml)
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
check "desktop-file-validate" test -z "$(desktop-file-validate "$tmp/root/usr/share/applications/pennacle.desktop" 2>&1)"
check "desktop-file-validate, second window" \
  test -z "$(desktop-file-validate "$tmp/root/usr/share/applications/pennacle-books.desktop" 2>&1)"

# 2. Installed, and started by a user who never had Pennacle.
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >"$tmp/apt" 2>&1 || { cat "$tmp/apt" >&2; exit 1; }
check "installed" test -x /usr/bin/pennacle -a -x /usr/bin/kdbtool
useradd --create-home --home-dir "$home" --shell /bin/bash "$user"
ledger="$home/.local/share/pennacle/data.kdb"
# Starts pennacle, waits for its window, closes it as another X client may; the exit status is
# the program's.
cat >"$tmp/start.sh" <<'EOF'
pennacle 2>>"$HOME/err" & pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --class pennacle | head -n 1)
[ -n "$window" ] || { kill "$pid"; exit 9; }
xdotool windowclose "$window"
wait "$pid"
EOF
chmod 755 "$tmp" && chmod 644 "$tmp/start.sh"
check "pennacle starts and closes with status 0" as_user xvfb-run -a sh "$tmp/start.sh"
check "the ledger is made in ~/.local/share/pennacle" test -f "$ledger" -a -f "${ledger%.kdb}.KDT"
check "it is private to the user" test "$(stat -c '%U %a' "$(dirname "$ledger")")" = "$user 700"
check "the first start says so" test "$(said_times "$home/err")" = 1
check "nothing is written beside the program" test ! -e /usr/lib/pennacle/data.kdb
check "a second start" as_user xvfb-run -a sh "$tmp/start.sh"
check "says nothing of a new ledger" test "$(said_times "$home/err")" = 1
printf '类型,金额,付款方式,时间,备注\n支出,12.5,微信,2024-05-01 12:00:00,午饭\n' >"$tmp/bills.csv"
chmod 644 "$tmp/bills.csv"
check "kdbtool import into the default ledger" as_user kdbtool import "$tmp/bills.csv"
check "kdbtool backup with no FILE" as_user kdbtool backup
check "the snapshot lies beside the ledger" test -n "$(ls "$home/.local/share/pennacle/backups/"*.kdb)"
check "kdbtool check of the default ledger" as_user kdbtool check
before=$(sha256sum "$ledger" "${ledger%.kdb}.KDT")

# 3. Removed: the programs go, the ledger stays.
apt-get remove -y -qq pennacle >"$tmp/apt" 2>&1 || { cat "$tmp/apt" >&2; exit 1; }
check "apt-get remove takes the programs" test ! -e /usr/bin/pennacle -a ! -e /usr/lib/pennacle/pennacle
check "and leaves the ledger as it was" test "$(sha256sum "$ledger" "${ledger%.kdb}.KDT")" = "$before"
check "and its snapshots" test -n "$(ls "$home/.local/share/pennacle/backups/"*.kdb)"

((failures == 0)) || { echo "package_test: $failures check(s) failed" >&2; exit 1; }
echo "package_test: every check passed"
