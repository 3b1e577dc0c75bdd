#!/usr/bin/env bash
# Runs a Windows test program under Wine (cmake/wine-run.sh) with serial ports made on the
# host, where pseudo-terminals can be made:
#   wine-ports.sh [--links N --link-program P] [--bench FILE --sim-program P] -- prog.exe [args]
# --links N: N pairs of pseudo-terminals joined back to back (belvane-ptylink); pair i
#   (from 1) is COM<i> for the code under test and COM<i+10> for the test at the far end;
#   the program finds the pairs in BELVANE_TEST_LINKS ("1:11 2:12 ...").
# --bench FILE: the devices of the bench on belvane-sim; each device's COM<n> is Wine's
#   COM<n>; the program finds them in BELVANE_TEST_BENCH ("COM3 gps 4800 8N1 ...", a line
#   each).
set -euo pipefail

links=0 link_program= bench= sim_program=
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case $1 in
  --links) links=$2; shift 2 ;;
  --link-program) link_program=$2; shift 2 ;;
  --bench) bench=$2; shift 2 ;;
  --sim-program) sim_program=$2; shift 2 ;;
  *) echo "wine-ports: unexpected argument $1" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = -- ] && shift
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/belvane-ports.XXXXXX")
helpers=()
cleanup() {
  for pid in "${helpers[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits (at most 20 s) until the helper has written its ready file.
wait_ready() {
  for _ in $(seq 200); do
    [ -f "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-ports: a helper did not start" >&2
  exit 1
}

coms=${BELVANE_WINE_COMS:-}
if [ "$links" -gt 0 ]; then
  "$link_program" "$links" "$work/links.ready" &
  helpers+=($!)
  wait_ready "$work/links.ready" $!
  pairs=
  i=1
  while read -r near far; do
    [ "$near" = ready ] && break
    coms="$coms $i=$near $((i + 10))=$far"
    pairs="$pairs $i:$((i + 10))"
    i=$((i + 1))
  done <"$work/links.ready"
  export BELVANE_TEST_LINKS=${pairs# }
fi
if [ -n "$bench" ]; then
  # The simulator's registry is its own: the program under Wine finds the ports as Windows
  # ports.
  "$sim_program" --registry "$work/sim.reg" --ready-file "$work/sim.ready" "$bench" >/dev/null &
  helpers+=($!)
  wait_ready "$work/sim.ready" $!
  devices=
  while read -r com kind rate framing path; do
    [ "$com" = ready ] && break
    # A device plugged in later has no terminal yet; only those there at the start are mapped.
    case $path in /dev/*) coms="$coms ${com#COM}=$path" ;; *) continue ;; esac
    devices="$devices$com $kind $rate $framing"$'\n'
  done <"$work/sim.ready"
  export BELVANE_TEST_BENCH=$devices
fi
export BELVANE_WINE_COMS=${coms# }
status=0
"$here/wine-run.sh" "$@" || status=$?
exit $status
