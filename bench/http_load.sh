#!/usr/bin/env bash
# Load benchmark of the HTTP page host: drives the node settings page (signed
# in, so the whole page is rendered from the demo database) and, beside it, a
# static file of the same size from the same server, each with wrk over
# keep-alive connections on loopback, and prints requests/s and p99 latency.
#
# Builds nothing: run it after building (build/oapx1, or set OAPX1_BIN).
# Usage: bench/http_load.sh [SECONDS] [CONNECTIONS] [SERVER_THREADS]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
connections=${2:-4}
server_threads=${3:-2}
bin=${OAPX1_BIN:-build/oapx1}
[ -x "$bin" ] || { echo "http_load: $bin not found; build first (scripts/test or scripts/run)" >&2; exit 1; }
command -v wrk >/dev/null || { echo "http_load: wrk is not installed" >&2; exit 1; }
command -v curl >/dev/null || { echo "http_load: curl is not installed" >&2; exit 1; }

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$bin" db init --db "sqlite:$work/oa.db" --demo >"$work/db.log" 2>&1 || { cat "$work/db.log" >&2; exit 1; }
cp -r www "$work/www"
# Port 0: the server picks a free port and prints it.
"$bin" serve --listen 127.0.0.1:0 --db "sqlite:$work/oa.db" --docroot "$work/www" \
  --threads "$server_threads" --demo-login >"$work/serve.log" 2>&1 &
server_pid=$!
base=""
for _ in $(seq 1 100); do
  base=$(sed -n 's|^oapx1 serve: listening on \(http://[^/]*\)/$|\1|p' "$work/serve.log")
  [ -n "$base" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$base" ] || { echo "http_load: the server did not start" >&2; cat "$work/serve.log" >&2; exit 1; }

cookie=$(curl -s -o /dev/null -D - --data 'username=admin&password=demo' "$base/oa/login.asp" |
  sed -n 's/^Set-Cookie: \([^;]*\).*/\1/Ip' | tr -d '\r')
[ -n "$cookie" ] || { echo "http_load: the demo login failed" >&2; exit 1; }
page="$base/oa/flow/model/jiedian.asp?OAID=1"
curl -s -H "Cookie: $cookie" "$page" -o "$work/page.html"
size=$(stat -c %s "$work/page.html")
grep -q 'login.asp' "$work/page.html" && { echo "http_load: the page asks for a login" >&2; exit 1; }
mkdir -p "$work/www/bench"
head -c "$size" /dev/zero | tr '\0' 'x' >"$work/www/bench/same_size.html"
static="$base/oa/bench/same_size.html"

run() {  # name url
  local out
  out=$(wrk -t1 -c"$connections" -d"${duration}s" --latency -H "Cookie: $cookie" "$2")
  local rps p99 errors
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out")
  printf '%-28s %10s req/s   p99 %8s   %s\n' "$1" "$rps" "$p99" "$errors"
}

echo "oapx1 http load: ${duration}s each, $connections keep-alive connections, $server_threads server threads, body $size bytes"
run "node page (signed in)" "$page"
run "static file, same size" "$static"
