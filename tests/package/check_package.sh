#!/usr/bin/env bash
# Installs the build into a temporary prefix and packs it as a .deb, and checks both as a
# user would meet them: the three commands answer --help and --version without a terminal,
# their man pages render, and the package holds the same files. Usage: check_package.sh BUILD
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/belvane-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

programs=(Belvane LumbraPorts belvane-sim)
# The driver helper is installed beside Belvane, where Belvane looks for it.
helpers=(belvane-devhost)
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p not installed"
  page="$prefix/share/man/man1/$p.1"
  [ -f "$page" ] || fail "man page $p.1 not installed"
  # Rendered with warnings shown: a broken request makes groff complain on stderr.
  rendered=$(MANWIDTH=80 man -l "$page" 2>"$work/man.err") || fail "man -l $p.1"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man -l $p.1 warns"; }
  grep -q "^NAME" <<<"$rendered" || fail "$p.1 has no NAME section"
  help=$("$prefix/bin/$p" --help </dev/null 2>&1) || fail "$p --help exits $?"
  grep -qi "usage: $p" <<<"$help" || fail "$p --help says: $help"
done
for p in Belvane LumbraPorts; do
  version=$("$prefix/bin/$p" --version </dev/null 2>&1) || fail "$p --version exits $?"
  [[ $version =~ ^$p\ [0-9]+\.[0-9]+ ]] || fail "$p --version says: $version"
done
[ -f "$prefix/share/doc/belvane/README.md" ] || fail "README not installed"
[ -f "$prefix/share/doc/belvane/COPYING.gpsd" ] || fail "licence of the captures not installed"
[ -f "$prefix/share/belvane/default.bench" ] || fail "default bench not installed"
[ ! -e "$prefix/bin/Morvex.dll" ] || fail "the sample driver is not for installing"
for h in "${helpers[@]}"; do
  [ -x "$prefix/bin/$h" ] || fail "bin/$h not installed"
  [ -z "$(find "$prefix/bin/$h" -perm /022)" ] || fail "bin/$h is writable by group or others"
done

# The installed simulator finds its installed bench and the captures it replays.
"$prefix/bin/belvane-sim" --registry "$work/sim.reg" --ready-file "$work/ready" \
  >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -qs '^ready' "$work/ready" && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/sim.log" >&2; fail "installed belvane-sim ended"; }
  sleep 0.1
done
grep -qs '^COM1 gps 4800' "$work/ready" || fail "installed belvane-sim: $(cat "$work/sim.log")"
kill "$sim"
wait "$sim" || true

(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$work/deb") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(ls "$work"/deb/*.deb)
contents=$(dpkg-deb -c "$deb")
for p in "${programs[@]}"; do
  grep -q "/usr/bin/$p\$" <<<"$contents" || fail "$p missing from the package"
  grep -q "/usr/share/man/man1/$p.1" <<<"$contents" || fail "$p.1 missing from the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libncursesw" <<<"$depends" || fail "package does not depend on ncursesw: $depends"
echo "package: $(basename "$deb"), Depends: $depends"
