#!/usr/bin/env bash
# Runs a Windows program under Wine for the build's tests: quiet, with no display (Wine's
# null graphics driver), in a copy of a prefix made fresh once per build tree, and in a
# private mount namespace whose /dev holds only the basic devices and the test's
# pseudo-terminals, so that Wine never reaches the host's /dev/ttyS* (not even when it
# lists the serial ports as it builds a prefix).
#   wine-run.sh <program.exe> [arguments...]
# BELVANE_WINE_COMS="5=/dev/pts/3 7=/dev/pts/4" maps COM5 and COM7 to those terminals.
# Needs root for the mount namespace (unshare -m), as CI runs.
set -euo pipefail

if [ -z "${BELVANE_WINE_NAMESPACE:-}" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "wine-run: needs root for a private /dev (unshare -m); not running $1" >&2
    exit 1
  fi
  export BELVANE_WINE_NAMESPACE=1 BELVANE_WINE_COMS=${BELVANE_WINE_COMS:-}
  exec unshare -m --propagation private "$0" "$@"
fi

# A tmpfs /dev with null, zero, random, urandom, shm and the mapped terminals as
# ttyS<n-1>, Wine's COMn.
keep=$(mktemp -d)
for d in null zero random urandom; do touch "$keep/$d"; mount --bind "/dev/$d" "$keep/$d"; done
for m in $BELVANE_WINE_COMS; do
  touch "$keep/com${m%%=*}"
  mount --bind "${m#*=}" "$keep/com${m%%=*}"
done
mount -t tmpfs -o mode=755 belvane-dev /dev
for d in null zero random urandom; do touch "/dev/$d"; mount --move "$keep/$d" "/dev/$d"; done
for m in $BELVANE_WINE_COMS; do
  t=/dev/ttyS$((${m%%=*} - 1))
  touch "$t"
  mount --move "$keep/com${m%%=*}" "$t"
done
mkdir /dev/shm
mount -t tmpfs belvane-shm /dev/shm
rm -rf "$keep"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d" DISPLAY=
# Debian's wine64 package keeps its programs in /usr/lib/wine.
export PATH=$PATH:/usr/lib/wine
wine_bin=$(command -v wine64 || command -v wine || true)
wineserver_bin=$(command -v wineserver64 || command -v wineserver || true)
[ -n "$wine_bin" ] && [ -n "$wineserver_bin" ] || {
  echo "wine-run: wine is not installed" >&2
  exit 1
}
program=$1
shift
build_root=$(cd "$(dirname "$program")" && pwd)
while [ "$build_root" != / ] && [ ! -f "$build_root/CMakeCache.txt" ]; do
  build_root=$(dirname "$build_root")
done
[ "$build_root" != / ] || build_root=${TMPDIR:-/tmp}
template=$build_root/wine-template

# The template prefix: made once per build tree (under a lock, as tests run in parallel),
# then copied for each run, so that every run has a fresh prefix and a server of its own.
exec 9>"$build_root/wine-template.lock"
flock 9
if [ ! -d "$template" ]; then
  rm -rf "$template.new"
  WINEPREFIX=$template.new "$wine_bin" wineboot -i >/dev/null 2>&1
  WINEPREFIX=$template.new "$wine_bin" reg add 'HKCU\Software\Wine\Drivers' /v Graphics \
    /d null /f >/dev/null 2>&1
  WINEPREFIX=$template.new "$wineserver_bin" -w
  mv "$template.new" "$template"
fi
flock -u 9
exec 9>&-

work=$(mktemp -d "${TMPDIR:-/tmp}/belvane-wine.XXXXXX")
# Linked, not copied (the prefix is large); Wine replaces its registry files on save, the
# rest it only reads.
cp -al "$template" "$work/prefix"
rm -f "$work"/prefix/*.reg
cp -a "$template"/*.reg "$work/prefix/"
export WINEPREFIX=$work/prefix
# Wine numbers the serial ports it finds in /dev one after the other; each mapped COMn is
# named here so that it keeps its number whatever other ports are mapped.
for m in $BELVANE_WINE_COMS; do
  ln -sfn "/dev/ttyS$((${m%%=*} - 1))" "$WINEPREFIX/dosdevices/com${m%%=*}"
done
status=0
"$wine_bin" "$program" "$@" || status=$?
"$wineserver_bin" -k 2>/dev/null || true
"$wineserver_bin" -w 2>/dev/null || true
rm -rf "$work"
exit $status
