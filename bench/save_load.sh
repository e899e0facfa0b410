#!/usr/bin/env bash
# Load benchmark of concurrent node saves: CONNECTIONS clients, each signed in
# with a session of its own, post saves of the node page that change a value
# every time, as fast as their replies come. Each client saves a node of its
# own (copies of a demo node added for the run), so every save lands (none is
# refused as made over a newer version) and each writes the node row, a
# history row and an operation-log row. Prints req/s, p50, p99 and p99/p50 of
# the saves, and how the saves ended (from the node history).
#
# Builds nothing: run it after a build (build-release/oapx1, build/oapx1, or
# set OAPX1_BIN). SQLite database, in-memory sessions. OAPX1_SERVE_ARGS adds
# options to `oapx1 serve` (for example "--page-threads 16").
# Usage: bench/save_load.sh [SECONDS] [CONNECTIONS] [SERVER_THREADS]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
connections=${2:-16}
server_threads=${3:-2}
bin=${OAPX1_BIN:-}
if [ -z "$bin" ]; then
  for b in build-release/oapx1 build/oapx1; do [ -x "$b" ] && { bin=$b; break; }; done
fi
[ -n "$bin" ] && [ -x "$bin" ] || { echo "save_load: oapx1 not found; build first or set OAPX1_BIN" >&2; exit 1; }
for tool in wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "save_load: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$bin" db init --db "sqlite:$work/oa.db" --demo >"$work/db.log" 2>&1 || { cat "$work/db.log" >&2; exit 1; }
# One node per client: copies of demo node 3 (a node that saves as it stands),
# numbered from 1001.
python3 - "$work/oa.db" "$connections" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
cols = [r[1] for r in db.execute("PRAGMA table_info(OA_Flow_Model_JieDian)") if r[1].lower() != "oaid"]
names = ", ".join(cols)
for i in range(int(sys.argv[2])):
    db.execute(f"INSERT INTO OA_Flow_Model_JieDian (OAID, {names}) SELECT ?, {names} "
               "FROM OA_Flow_Model_JieDian WHERE OAID = 3", (1001 + i,))
db.commit()
PY

log="$work/serve.log"
"$bin" serve --listen 127.0.0.1:0 --db "sqlite:$work/oa.db" --docroot www \
  --threads "$server_threads" --demo-login ${OAPX1_SERVE_ARGS:-} >"$log" 2>&1 &
server_pid=$!
base=""
for _ in $(seq 1 100); do
  base=$(sed -n 's|^oapx1 serve: listening on \(http://[^/]*\)/$|\1|p' "$log" 2>/dev/null)
  [ -n "$base" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$base" ] || { echo "save_load: the server did not start" >&2; cat "$log" >&2; exit 1; }

: >"$work/cookies"
for _ in $(seq 1 "$connections"); do
  curl -s -o /dev/null -D - --data 'username=admin&password=demo' "$base/oa/login.asp" |
    sed -n 's/^Set-Cookie: \([^;]*\).*/\1/Ip' | tr -d '\r' | head -n 1 >>"$work/cookies"
done
[ "$(grep -c . "$work/cookies")" -eq "$connections" ] || { echo "save_load: the demo login failed" >&2; exit 1; }

# One wrk thread per client, so that each connection keeps its session and
# node; each save posts a name it has not posted before.
{
  echo "local cookies = {"
  sed 's/.*/  "&",/' "$work/cookies"
  echo "}"
  cat <<'LUA'
local next_id = 0
setup = function(thread)
  next_id = next_id + 1
  thread:set("id", next_id)
end
init = function(args)
  n = 0
  path = "/oa/flow/model/jiedian.asp?save=true&OAID=" .. (1000 + id)
  headers = { ["Cookie"] = cookies[id], ["Content-Type"] = "application/x-www-form-urlencoded" }
end
request = function()
  n = n + 1
  return wrk.format("POST", path, headers, "JieDianName=save-" .. id .. "-" .. n)
end
LUA
} >"$work/save.lua"

# One save by hand first: it must land.
curl -s -H "Cookie: $(head -n 1 "$work/cookies")" -H 'Content-Type: application/x-www-form-urlencoded' \
  --data 'JieDianName=first' "$base/oa/flow/model/jiedian.asp?save=true&OAID=1001" -o "$work/first.html"
python3 - "$work/oa.db" <<'PY' || { echo "save_load: the first save did not land" >&2; exit 1; }
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute("SELECT JieDianName FROM OA_Flow_Model_JieDian WHERE OAID = 1001").fetchone()
sys.exit(0 if row and row[0] == "first" else 1)
PY

wrk -t"$connections" -c"$connections" -d2s -s "$work/save.lua" "$base" >/dev/null  # warm-up, discarded
out=$(wrk -t"$connections" -c"$connections" -d"${duration}s" --latency -s "$work/save.lua" "$base")
# Latencies in milliseconds, whatever unit wrk printed.
ms() { awk -v v="$1" 'BEGIN { u = v; sub(/^[0-9.]+/, "", u); n = v + 0;
  f = (u == "us") ? 0.001 : (u == "ms") ? 1 : (u == "s") ? 1000 : (u == "m") ? 60000 : 1;
  printf "%.3f", n * f }'; }
r=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
p50=$(ms "$(awk '$1 == "50%" {print $2}' <<<"$out")")
p99=$(ms "$(awk '$1 == "99%" {print $2}' <<<"$out")")
errors=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out" | tr '\n' ' ')
echo "oapx1 save load: ${duration}s (after a 2s warm-up), wrk -t$connections -c$connections, $connections sessions saving a node each, $server_threads server threads"
printf '%-28s %10s req/s   p50 %9s ms   p99 %9s ms   p99/p50 %s   %s\n' "node saves" "$r" "$p50" "$p99" \
  "$(awk -v a="$p99" -v b="$p50" 'BEGIN { printf "%.1f", a / b }')" "$errors"
python3 - "$work/oa.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = db.execute("SELECT Outcome, count(*) FROM OAPX1_NodeHistory WHERE NodeID > 1000 GROUP BY Outcome").fetchall()
print("saves by outcome: " + ", ".join(f"{o} {n}" for o, n in rows))
PY
