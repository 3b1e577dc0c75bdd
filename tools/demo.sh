#!/usr/bin/env bash
# Runs Belvane in this terminal on simulated devices: builds what is needed, lays out a
# demonstration folder (Belvane, a sample Belv.ini, the sample virtual port driver), starts
# the device simulator with its default bench, and when Belvane ends shows what the
# deployment changed in Belv.ini. Nothing of the host's serial devices or registry is used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset default >/dev/null
cmake --build --preset default --target Belvane belvane-sim sample_driver >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/belvane-demo-XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

cp build/default/ui/Belvane build/default/ui/Morvex.dll "$work/"
cp tools/demo/Belv.ini "$work/Belv.ini"
cp tools/demo/Belv.ini "$work/Belv.ini.before"
mkdir "$work/empty"
# A private registry, and empty device trees so that only the simulated ports are seen.
export BELVANE_REGISTRY="$work/registry.reg"
export BELVANE_SYSFS_ROOT="$work/empty" BELVANE_DEV_ROOT="$work/empty" BELVANE_PROC_ROOT="$work/empty"

build/default/tools/simulator/belvane-sim --ready-file "$work/ready" \
  tools/simulator/default.bench >"$work/simulator.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/ready" ] && grep -q '^ready' "$work/ready" && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/simulator.log" >&2; exit 1; }
  sleep 0.1
done
echo "Simulated devices:"
grep -v '^ready' "$work/ready" | sed 's/^/  /'
echo "Belvane scans for about forty seconds; then press its button to deploy, and Cancel to end."
sleep 2

status=0
"$work/Belvane" || status=$?

echo
echo "What the deployment changed in Belv.ini:"
diff -u --label "Belv.ini before" --label "Belv.ini after" "$work/Belv.ini.before" "$work/Belv.ini" ||
  true
exit "$status"
