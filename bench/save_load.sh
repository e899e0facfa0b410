#!/usr/bin/env bash
# Load benchmark of concurrent node saves: CONNECTIONS clients, each signed in
# with a session of its own, post saves of the node page that change a value
# every time, as fast as their replies come. Each client saves a node of its
# own (copies of a demo node added for the run), so every save lands (none is
# refused as made over a newer version) and each writes the node row, a
# history row and an operation-log row. Prints req/s, p50, p99 and p99/p50 of
# the saves, and how the saves ended (from the node history).
#
# With SERVERS above 1, that many `oapx1 serve` processes share the one
# database file and the clients are split between them (one wrk per server,
# run at the same time; a line per server): writers of different processes
# meet at SQLite's lock.
#
# Builds nothing: run it after a build (build-release/oapx1, build/oapx1, or
# set OAPX1_BIN). SQLite database, in-memory sessions. OAPX1_SERVE_ARGS adds
# options to `oapx1 serve` (for example "--page-threads 16").
# Usage: bench/save_load.sh [SECONDS] [CONNECTIONS] [SERVER_THREADS] [SERVERS]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
connections=${2:-16}
server_threads=${3:-2}
servers=${4:-1}
. bench/common.sh
find_oapx1 save_load
for tool in wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "save_load: $tool is not installed" >&2; exit 1; }
done
[ "$servers" -ge 1 ] && [ $((connections % servers)) -eq 0 ] ||
  { echo "save_load: CONNECTIONS must be a multiple of SERVERS" >&2; exit 1; }
per_server=$((connections / servers))

make_work

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

bases=()
for s in $(seq 0 $((servers - 1))); do
  log="$work/serve-$s.log"
  "$bin" serve --listen 127.0.0.1:0 --db "sqlite:$work/oa.db" --docroot www \
    --threads "$server_threads" --demo-login ${OAPX1_SERVE_ARGS:-} >"$log" 2>&1 &
  pids+=("$!")
  wait_listening "$log" "${pids[-1]}" save_load
  bases+=("$base")

  # The server's clients sign in there (sessions live in its process).
  sign_in_demo "$base" "$per_server" "$work/cookies-$s" save_load

  # One wrk thread per client, so that each connection keeps its session and
  # node; each save posts a name it has not posted before.
  {
    echo "local cookies = {"
    sed 's/.*/  "&",/' "$work/cookies-$s"
    echo "}"
    echo "local first_node = $((1000 + s * per_server))"
    cat <<'LUA'
local next_id = 0
setup = function(thread)
  next_id = next_id + 1
  thread:set("id", next_id)
end
init = function(args)
  n = 0
  path = "/oa/flow/model/jiedian.asp?save=true&OAID=" .. (first_node + id)
  headers = { ["Cookie"] = cookies[id], ["Content-Type"] = "application/x-www-form-urlencoded" }
end
request = function()
  n = n + 1
  return wrk.format("POST", path, headers, "JieDianName=save-" .. id .. "-" .. n)
end
LUA
  } >"$work/save-$s.lua"
done

# One save by hand first: it must land.
curl -s -H "Cookie: $(head -n 1 "$work/cookies-0")" -H 'Content-Type: application/x-www-form-urlencoded' \
  --data 'JieDianName=first' "${bases[0]}/oa/flow/model/jiedian.asp?save=true&OAID=1001" -o "$work/first.html"
python3 - "$work/oa.db" <<'PY' || { echo "save_load: the first save did not land" >&2; exit 1; }
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute("SELECT JieDianName FROM OA_Flow_Model_JieDian WHERE OAID = 1001").fetchone()
sys.exit(0 if row and row[0] == "first" else 1)
PY

# Every server's clients at once: a warm-up, discarded, then the run.
load() {  # seconds, extra wrk options
  local waits=()
  for s in $(seq 0 $((servers - 1))); do
    wrk -t"$per_server" -c"$per_server" -d"$1" ${2:-} -s "$work/save-$s.lua" "${bases[$s]}" >"$work/wrk-$s.out" &
    waits+=("$!")
  done
  for w in "${waits[@]}"; do wait "$w"; done
}
load 2s
load "${duration}s" --latency

# Latencies in milliseconds, whatever unit wrk printed.
ms() { awk -v v="$1" 'BEGIN { u = v; sub(/^[0-9.]+/, "", u); n = v + 0;
  f = (u == "us") ? 0.001 : (u == "ms") ? 1 : (u == "s") ? 1000 : (u == "m") ? 60000 : 1;
  printf "%.3f", n * f }'; }
echo "oapx1 save load: ${duration}s (after a 2s warm-up), $connections sessions saving a node each," \
  "$servers server(s) of $server_threads threads on one SQLite file, wrk -t$per_server -c$per_server per server"
for s in $(seq 0 $((servers - 1))); do
  out=$(cat "$work/wrk-$s.out")
  r=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p50=$(ms "$(awk '$1 == "50%" {print $2}' <<<"$out")")
  p99=$(ms "$(awk '$1 == "99%" {print $2}' <<<"$out")")
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out" | tr '\n' ' ')
  label="node saves"
  [ "$servers" -gt 1 ] && label="node saves, server $((s + 1))"
  printf '%-28s %10s req/s   p50 %9s ms   p99 %9s ms   p99/p50 %s   %s\n' "$label" "$r" "$p50" "$p99" \
    "$(awk -v a="$p99" -v b="$p50" 'BEGIN { printf "%.1f", a / b }')" "$errors"
done
python3 - "$work/oa.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = db.execute("SELECT Outcome, count(*) FROM OAPX1_NodeHistory WHERE NodeID > 1000 GROUP BY Outcome").fetchall()
print("saves by outcome: " + ", ".join(f"{o} {n}" for o, n in rows))
PY
