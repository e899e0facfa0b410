# Shared by the load benchmarks (sourced, not run): the oapx1 program to
# measure, and a scratch folder whose processes are stopped, and the folder
# removed, when the benchmark ends.

# Sets $bin: $OAPX1_BIN, else build-release/oapx1, else build/oapx1. $1 names
# the benchmark in the message when none is built.
find_oapx1() {
  bin=${OAPX1_BIN:-}
  if [ -z "$bin" ]; then
    for b in build-release/oapx1 build/oapx1; do [ -x "$b" ] && { bin=$b; break; }; done
  fi
  [ -n "$bin" ] && [ -x "$bin" ] || { echo "$1: oapx1 not found; build first or set OAPX1_BIN" >&2; exit 1; }
}

# Makes the scratch folder $work; processes whose ids go into $pids are
# stopped at the end, however the benchmark ends.
make_work() {
  work=$(mktemp -d)
  pids=()
  trap stop_work EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
stop_work() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
