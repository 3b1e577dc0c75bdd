#!/usr/bin/env bash
# Runs Belvane in this terminal on simulated devices: builds what is needed, lays out a
# demonstration folder (Belvane, a sample Belv.ini, the sample virtual port driver), starts
# the device simulator with its default bench, and when Belvane ends shows what the
# deployment changed in Belv.ini, or that nothing was deployed. Nothing of the host's serial
# devices or registry is used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

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

# The build's own progress is shown; configuring is quiet unless it fails.
echo "Building Belvane, the device simulator and the sample driver (a minute or two the first time)..."
cmake --preset default >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build --preset default --target Belvane belvane-sim sample_driver

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
devices=$(grep -v '^ready' "$work/ready" | sed 's/^/  /')
hint='Belvane scans for about forty seconds, then shows what it found. Press Tab to reach
the button "Belvane" and Enter to deploy the ports into Belv.ini; "Cancel" ends it.'
echo
echo "Simulated devices:"
echo "$devices"
echo
echo "$hint"
# The dialog fills the terminal: the hint is read before it opens, not under it.
if [ -t 0 ]; then
  read -r -p "Press Enter to start Belvane. " _
else
  sleep 2
fi

status=0
"$work/Belvane" || status=$?

echo
echo "Belvane ended (exit status $status). The simulated devices were:"
echo "$devices"
echo
if cmp -s "$work/Belv.ini.before" "$work/Belv.ini"; then
  echo 'Nothing was deployed: Belv.ini is unchanged. Press the button "Belvane" before'
  echo '"Cancel" to write the ports found into it.'
else
  echo "What the deployment changed in Belv.ini:"
  diff -u --label "Belv.ini before" --label "Belv.ini after" "$work/Belv.ini.before" \
    "$work/Belv.ini" || true
fi
exit "$status"
