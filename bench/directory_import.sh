#!/usr/bin/env bash
# oapx1 directory import of an organisation of 10,000 users in 500 departments
# (20 units of 24 departments each), as an operator runs it: the first import
# (every department and account added), the same file again (nothing to
# change) and a dry run, each with its wall time and the process's peak
# memory (/usr/bin/time), on SQLite and, when OAPX1_TEST_PG names a server
# (scripts/pg-test-server start), on PostgreSQL in a schema of its own.
#
#   bench/directory_import.sh [USERS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
find_oapx1 directory_import
users=${1:-10000}
make_work

csv=$work/organisation.csv
awk -v users="$users" 'BEGIN {
  print "login,name,department,mobile,state"
  for (i = 0; i < users; i++) {
    unit = i % 20; dept = int(i / 20) % 24
    printf "user%05d,用户%05d,分公司%02d/部门%02d,139%08d,1\n", i, i, unit, dept, i
  }
}' >"$csv"

# Runs one import, printing its name, seconds and peak memory.
measure() {
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$bin" directory import "$csv" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; exit 1; }
  read -r seconds kb <"$work/time"
  printf '  %-28s %7.2f s  %7.1f MiB peak\n' "$name" "$seconds" "$(echo "$kb / 1024" | bc -l)"
}

run_engine() {
  local label=$1 url=$2
  "$bin" db init --db "$url" >/dev/null 2>&1
  echo "$label: $users users in 500 departments"
  measure "import (all added)" --db "$url"
  measure "the same file again" --db "$url"
  measure "dry run" --db "$url" --dry-run
}

run_engine sqlite "sqlite:$work/bench.db"
if [ -n "${OAPX1_TEST_PG:-}" ]; then
  schema=oapx1_bench_directory_$$
  psql -X -q "$OAPX1_TEST_PG" -c "SET client_min_messages = warning; DROP SCHEMA IF EXISTS $schema CASCADE; CREATE SCHEMA $schema"
  sep='?'; case $OAPX1_TEST_PG in *\?*) sep='&' ;; esac
  run_engine postgresql "$OAPX1_TEST_PG${sep}options=-csearch_path%3D$schema"
  psql -X -q "$OAPX1_TEST_PG" -c "SET client_min_messages = warning; DROP SCHEMA $schema CASCADE"
else
  echo "postgresql: skipped (OAPX1_TEST_PG is not set)"
fi
