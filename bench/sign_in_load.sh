#!/usr/bin/env bash
# Sign-ins beside views: while one signed-in client views the node page
# without pause (keep-views off, so every view runs on a page thread), BURSTS
# bursts of CONCURRENT correct sign-ins arrive at once. Prints the sign-ins
# answered and how long each burst took, the views' p50 and worst time
# during the bursts, and the server's peak resident memory (sampled every
# 20 ms). Then four clients send wrong passwords of a real account and
# passwords of an unknown one, side by side, and the p50 and p90 of each
# are printed: they should not tell one from the other.
#
# Builds nothing: run it after a build (build-release/oapx1, build/oapx1, or
# set OAPX1_BIN). SQLite database, in-memory sessions, no sign-in limit
# (login-failures 0), PAGE_THREADS page threads. OAPX1_SERVE_ARGS adds
# options to `oapx1 serve`.
# Usage: bench/sign_in_load.sh [CONCURRENT] [BURSTS] [PAGE_THREADS]
set -euo pipefail
cd "$(dirname "$0")/.."
concurrent=${1:-50}
bursts=${2:-3}
page_threads=${3:-2}
. bench/common.sh
find_oapx1 sign_in_load
for tool in curl python3; do
  command -v "$tool" >/dev/null || { echo "sign_in_load: $tool is not installed" >&2; exit 1; }
done

make_work

"$bin" db init --db "sqlite:$work/oa.db" --demo >"$work/db.log" 2>&1 || { cat "$work/db.log" >&2; exit 1; }
"$bin" serve --listen 127.0.0.1:0 --db "sqlite:$work/oa.db" --docroot www --threads 2 \
  --page-threads "$page_threads" --keep-views off --login-failures 0 --demo-login ${OAPX1_SERVE_ARGS:-} \
  >"$work/serve.log" 2>&1 &
server=$!
pids+=("$server")
wait_listening "$work/serve.log" "$server" sign_in_load
sign_in_demo "$base" 1 "$work/cookie" sign_in_load
page="$base/oa/flow/model/jiedian.asp?OAID=1"

# Peak resident memory of the server, in KiB, until the flag file goes.
touch "$work/sampling"
(
  peak=0
  while [ -e "$work/sampling" ]; do
    rss=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$server/status" 2>/dev/null || echo 0)
    [ "${rss:-0}" -gt "$peak" ] && peak=$rss
    sleep 0.02
  done
  echo "$peak" >"$work/peak"
) &
pids+=("$!")

# Views one after the other, each time in seconds, until the flag file goes.
touch "$work/viewing"
(
  while [ -e "$work/viewing" ]; do
    curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H "Cookie: $(cat "$work/cookie")" "$page"
  done >"$work/views"
) &
viewer=$!
pids+=("$viewer")
sleep 1

rss_before=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$server/status")
views_before=$(wc -l <"$work/views")
: >"$work/sign-ins"
for b in $(seq 1 "$bursts"); do
  start=$(date +%s.%N)
  burst=()
  for _ in $(seq 1 "$concurrent"); do
    curl -s -o /dev/null -w '%{http_code} %{time_total}\n' --data 'username=admin&password=demo' \
      "$base/oa/login.asp" >>"$work/sign-ins" &
    burst+=("$!")
  done
  wait "${burst[@]}"
  echo "burst $b: $(python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$start" "$(date +%s.%N)") s"
done
rm -f "$work/viewing"
wait "$viewer" 2>/dev/null || true
rm -f "$work/sampling"
sleep 0.1
for _ in $(seq 1 50); do [ -s "$work/peak" ] && break; sleep 0.02; done

python3 - "$work/sign-ins" "$work/views" "$views_before" "$rss_before" "$(cat "$work/peak")" <<'PY'
import sys
def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(len(xs) * p))] if xs else float("nan")
signs = [l.split() for l in open(sys.argv[1]) if l.strip()]
views = [l.split() for l in open(sys.argv[2]) if l.strip()][int(sys.argv[3]):]
ok = sum(1 for s in signs if s[0] == "303")
times = [float(v[1]) for v in views]
print(f"sign-ins: {ok}/{len(signs)} signed in, p50 {pct([float(s[1]) for s in signs], 0.5):.2f} s, "
      f"worst {max(float(s[1]) for s in signs):.2f} s")
print(f"views during the bursts: {len(times)}, {sum(1 for v in views if v[0] != '200')} not 200, "
      f"p50 {pct(times, 0.5):.3f} s, worst {max(times):.3f} s")
print(f"server memory: {int(sys.argv[4]) / 1024:.0f} MiB before, peak {int(sys.argv[5]) / 1024:.0f} MiB")
PY

# Wrong passwords of a real account beside passwords of an unknown one.
clients=()
for c in 1 2 3 4; do
  (
    for i in $(seq 1 10); do
      for who in admin nobody$c; do
        curl -s -o /dev/null -w "$who %{time_total}\n" --data "username=$who&password=wrong$i" "$base/oa/login.asp"
      done
    done
  ) >"$work/failed-$c" &
  clients+=("$!")
done
wait "${clients[@]}"
python3 - "$work"/failed-* <<'PY'
import sys
def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(len(xs) * p))]
real, unknown = [], []
for name in sys.argv[1:]:
    for line in open(name):
        who, t = line.split()
        (real if who == "admin" else unknown).append(float(t))
print(f"failed sign-ins, 4 clients: wrong password p50 {pct(real, .5):.2f} s p90 {pct(real, .9):.2f} s; "
      f"unknown account p50 {pct(unknown, .5):.2f} s p90 {pct(unknown, .9):.2f} s")
PY
