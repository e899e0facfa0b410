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

# Sets $base (http://ADDRESS:PORT) once the server started in the background
# with its output in log $1 and process id $2 says where it listens; $3 names
# the benchmark in the message when it does not start.
wait_listening() {
  base=""
  for _ in $(seq 1 100); do
    base=$(sed -n 's|^oapx1 serve: listening on \(http://[^/]*\)/$|\1|p' "$1" 2>/dev/null)
    [ -n "$base" ] && return
    kill -0 "$2" 2>/dev/null || { cat "$1" >&2; exit 1; }
    sleep 0.1
  done
  echo "$3: the server did not start" >&2
  cat "$1" >&2
  exit 1
}

# Signs in $2 times as the demo user at $base $1 and writes the session
# cookies to file $3, one a line; $4 names the benchmark in the message when
# a sign-in fails.
sign_in_demo() {
  : >"$3"
  for _ in $(seq 1 "$2"); do
    curl -s -o /dev/null -D - --data 'username=admin&password=demo' "$1/oa/login.asp" |
      sed -n 's/^Set-Cookie: \([^;]*\).*/\1/Ip' | tr -d '\r' | head -n 1 >>"$3"
  done
  [ "$(grep -c . "$3")" -eq "$2" ] || { echo "$4: the demo login failed" >&2; exit 1; }
}
