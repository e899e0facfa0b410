#!/usr/bin/env bash
# Load benchmark of the HTTP page host, side by side with its yardsticks, all
# in one run on this machine so that the ratios are comparable:
#   - nginx serving the node page's exact bytes as a static file (optional:
#     skipped when nginx is not installed);
#   - `oapx1 serve` serving the same bytes as a static file;
#   - the node page (signed in, rendered from the demo database), with
#     distinct sessions rotating per request and with one session, on the
#     given server threads and on one thread;
#   - the PHP port of the page (../shared/peers/php/run.sh; optional: skipped
#     when php-fpm or that folder is missing).
# Each is driven by wrk over keep-alive connections on loopback after a short
# warm-up; the table gives requests/s, p50 and p99 latency and the ratios.
# The oapx1 runs use SQLite and in-memory sessions: no PostgreSQL statement
# and no Redis command per page (scripts/scale-out bench counts those for
# PostgreSQL with Redis sessions).
#
# Builds nothing: run it after a Release build (build-release/oapx1, build/oapx1,
# or set OAPX1_BIN).
# Usage: bench/http_load.sh [SECONDS] [CONNECTIONS] [SERVER_THREADS] [SESSIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
connections=${2:-16}
server_threads=${3:-2}
sessions=${4:-16}
. bench/common.sh
find_oapx1 http_load
command -v wrk >/dev/null || { echo "http_load: wrk is not installed" >&2; exit 1; }
command -v curl >/dev/null || { echo "http_load: curl is not installed" >&2; exit 1; }
export PATH="$PATH:/usr/local/sbin:/usr/sbin:/sbin"
peer_dir=${OAPX1_PHP_PEER:-../shared/peers/php}
[ -d "$peer_dir" ] || peer_dir=/work/shared/peers/php

make_work

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The demo database and docroot, shared by every oapx1 run.
"$bin" db init --db "sqlite:$work/oa.db" --demo >"$work/db.log" 2>&1 || { cat "$work/db.log" >&2; exit 1; }
cp -r www "$work/www"

server_pid=""
base=""
starts=0
start_oapx1() {  # threads
  # A log of its own for each start: the redirection happens in the
  # background, so a reused log could still show the previous server's port.
  starts=$((starts + 1))
  local log="$work/serve-$starts.log"
  "$bin" serve --listen 127.0.0.1:0 --db "sqlite:$work/oa.db" --docroot "$work/www" \
    --threads "$1" --demo-login >"$log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  wait_listening "$log" "$server_pid" http_load
}
stop_oapx1() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}

# Signs in `sessions` times; writes a wrk script that rotates the cookies, one
# per request, and one that sends the first cookie only.
sign_in() {
  sign_in_demo "$base" "$sessions" "$work/cookies" http_load
  {
    echo "local cookies = {"
    sed 's/.*/  "&",/' "$work/cookies"
    echo "}"
    echo "local n = 0"
    echo "request = function()"
    echo "  n = n + 1"
    echo "  return wrk.format(nil, nil, { [\"Cookie\"] = cookies[(n % #cookies) + 1] })"
    echo "end"
  } >"$work/rotate.lua"
  {
    echo "request = function()"
    echo "  return wrk.format(nil, nil, { [\"Cookie\"] = \"$(head -n 1 "$work/cookies")\" })"
    echo "end"
  } >"$work/one.lua"
}

declare -A rps
run() {  # key label url [wrk script]
  local script=()
  [ -n "${4:-}" ] && script=(-s "$4")
  wrk -t1 -c"$connections" -d2s "${script[@]}" "$3" >/dev/null  # warm-up, discarded
  local out
  out=$(wrk -t1 -c"$connections" -d"${duration}s" --latency "${script[@]}" "$3")
  local r p50 p99 errors
  r=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out" | tr '\n' ' ')
  rps[$1]=$r
  printf '%-44s %10s req/s   p50 %8s   p99 %8s   %s\n' "$2" "$r" "$p50" "$p99" "$errors"
}

ratio() {  # a b -> a / b, or "-" when either is missing
  local a=${rps[$1]:-} b=${rps[$2]:-}
  if [ -z "$a" ] || [ -z "$b" ]; then echo "-"; else awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }'; fi
}

# The page's bytes, for the static runs.
start_oapx1 "$server_threads"
sign_in
page="$base/oa/flow/model/jiedian.asp?OAID=1"
curl -s -H "Cookie: $(head -n 1 "$work/cookies")" "$page" -o "$work/page.html"
grep -q 'login.asp' "$work/page.html" && { echo "http_load: the page asks for a login" >&2; exit 1; }
size=$(stat -c %s "$work/page.html")
mkdir -p "$work/www/bench"
cp "$work/page.html" "$work/www/bench/page.html"

echo "oapx1 http load: ${duration}s each (after a 2s warm-up), wrk -t1 -c$connections, body $size bytes, $sessions sessions"
echo "oapx1 runs: SQLite, in-memory sessions (per page: 0 PostgreSQL statements, 0 Redis commands)"

# nginx, the same bytes as a static file.
if command -v nginx >/dev/null; then
  nginx_port=$(free_port)
  mkdir -p "$work/nginx"
  cat >"$work/nginx.conf" <<EOF
worker_processes $server_threads;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
$( [ "$(id -u)" = 0 ] && echo "user root;" )
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_requests 1000000;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    scgi_temp_path $work/nginx/scgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    default_type text/html;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
EOF
  nginx -p "$work/" -c "$work/nginx.conf" -e "$work/nginx-error.log" &
  nginx_pid=$!
  pids+=("$nginx_pid")
  for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/bench/page.html" && break; sleep 0.1; done
  run nginx "nginx, static file ($server_threads workers)" "http://127.0.0.1:$nginx_port/bench/page.html"
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
else
  echo "nginx: not installed, skipped"
fi

run static "oapx1, static file ($server_threads threads)" "$base/oa/bench/page.html"
run page_n "oapx1, node page, $sessions sessions ($server_threads thr)" "$page" "$work/rotate.lua"
run page_1 "oapx1, node page, one session ($server_threads thr)" "$page" "$work/one.lua"
stop_oapx1

if [ "$server_threads" != 1 ]; then
  start_oapx1 1
  sign_in
  page="$base/oa/flow/model/jiedian.asp?OAID=1"
  run page_n1 "oapx1, node page, $sessions sessions (1 thread)" "$page" "$work/rotate.lua"
  run page_11 "oapx1, node page, one session (1 thread)" "$page" "$work/one.lua"
  stop_oapx1
fi

# The PHP port of the page, as its own scripts run it.
fpm=$(compgen -c | grep -E '^php-fpm[0-9.]*$' | sort -V | tail -n 1 || true)
if [ -n "$fpm" ] && [ -f "$peer_dir/run.sh" ] && command -v nginx >/dev/null && command -v sqlite3 >/dev/null; then
  php_port=$(free_port)
  bash "$peer_dir/run.sh" "$php_port" >"$work/php.log" 2>&1 &
  php_pid=$!
  pids+=("$php_pid")
  for _ in $(seq 1 100); do
    grep -q '^URL: ' "$work/php.log" && break
    kill -0 "$php_pid" 2>/dev/null || break
    sleep 0.1
  done
  php_url=$(sed -n 's/^URL: //p' "$work/php.log")
  if [ -n "$php_url" ]; then
    curl -s -c "$work/php.jar" "http://127.0.0.1:$php_port/oa/login.php" >/dev/null
    php_cookie=$(awk '$6 == "PHPSESSID" { print $6 "=" $7 }' "$work/php.jar")
    echo "request = function() return wrk.format(nil, nil, { [\"Cookie\"] = \"$php_cookie\" }) end" >"$work/php.lua"
    run php "PHP peer (php-fpm + nginx), node page" "$php_url" "$work/php.lua"
  else
    echo "PHP peer: did not start, skipped"
  fi
  kill "$php_pid" 2>/dev/null || true
  wait "$php_pid" 2>/dev/null || true
else
  echo "PHP peer: php-fpm, sqlite3 or $peer_dir not installed, skipped"
fi

echo
echo "ratios"
printf '  %-52s %s\n' "node page, $sessions sessions / nginx static" "$(ratio page_n nginx)"
printf '  %-52s %s\n' "node page, one session / nginx static" "$(ratio page_1 nginx)"
printf '  %-52s %s\n' "oapx1 static / nginx static" "$(ratio static nginx)"
printf '  %-52s %s\n' "node page, $sessions sessions / PHP peer" "$(ratio page_n php)"
printf '  %-52s %s\n' "node page, one session / PHP peer" "$(ratio page_1 php)"
printf '  %-52s %s\n' "node page, $server_threads threads / 1 thread, $sessions sessions" "$(ratio page_n page_n1)"
printf '  %-52s %s\n' "node page, $server_threads threads / 1 thread, one session" "$(ratio page_1 page_11)"
