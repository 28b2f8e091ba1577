#!/usr/bin/env bash
# Server route benchmark. Starts a throw-away PostgreSQL on loopback, loads the pharmacy tables and
# the benchmark data (1,300 update rows, 199 insert rows over 20 new categories), and applies the
# 1,500-row price list with `qalu-cli apply` through unixODBC + psqlODBC with the driver's default
# options (its run journal included, written into the work folder), against the same statement
# sequence through libpq's PQexecParams (the floor), and through libpq with each text prepared once
# (PQprepare + PQexecPrepared, as the query objects now do); each run on a fresh copy of the
# database. Then counts the network round trips of one
# run of each with strace (one send to the server per round trip). Prints the figures; asserts
# nothing.
#
# usage: bench/run/run-pg-bench.sh [BUILD_DIR] [REPETITIONS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/default}
REPS=${2:-5}
PYTHON=/usr/bin/python3
command -v "$PYTHON" >/dev/null || PYTHON=python3

cmake --build "$BUILD" --target qalu-cli bench_run_pg_floor >/dev/null
CLI=$BUILD/tools/qalu-cli/qalu-cli
FLOOR=$BUILD/bench/run/bench_run_pg_floor
PGBIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
command -v strace >/dev/null || { echo "run-pg-bench: strace is missing (scripts/install-deps)" >&2; exit 1; }

as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

WORK=$(mktemp -d /tmp/qalu-pg-bench.XXXXXX)
[ "$(id -u)" -eq 0 ] && chown postgres "$WORK"
PORT=${QALU_BENCH_PG_PORT:-$("$PYTHON" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}
cleanup() {
  as_pg "$PGBIN/pg_ctl" -D "$WORK/pg" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

as_pg "$PGBIN/initdb" -D "$WORK/pg" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >/dev/null
as_pg "$PGBIN/pg_ctl" -D "$WORK/pg" -l "$WORK/pg/server.log" -w \
  -o "-p $PORT -k $WORK -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
export PGOPTIONS="-c client_min_messages=warning"
PSQL=("$PGBIN/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PORT" -U postgres)

"$PYTHON" "$ROOT/bench/run/make_bench_data.py" "$ROOT" "$WORK/data"
"$PYTHON" - "$WORK/data/pharmacy.db" >"$WORK/data/mat00.csv" <<'PY'
import csv, sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute(
    'select guid, MatNum, MatName, MatNameEng, salp, Price1, CatGuid from mat00 where MatNum >= 5000')
csv.writer(sys.stdout).writerows(rows)
PY
"${PSQL[@]}" -d postgres -c "create database bench_template"
"${PSQL[@]}" -d bench_template -f "$ROOT/tests/db/pg-schema.sql" -f "$ROOT/db/sql/seed.sql" \
  -c "\\copy mat00(guid, MatNum, MatName, MatNameEng, salp, Price1, CatGuid) from '$WORK/data/mat00.csv' csv" \
  -c "analyze"

ODBC="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$PORT;Database=bench_run;Uid=postgres;Pwd=;"
LIBPQ="host=127.0.0.1 port=$PORT dbname=bench_run user=postgres sslmode=disable gssencmode=disable"
fresh() { "${PSQL[@]}" -d postgres -c "drop database if exists bench_run" -c "create database bench_run template bench_template"; }

run_side() { # side [prefix...]
  local side=$1
  shift
  case $side in
    cli)
      "$@" "$CLI" apply --connection "$ODBC" --decimal-separator . --journal-dir "$WORK/journals" \
        "$WORK/data/prices.xlsx" >"$WORK/out" || {
        echo "qalu-cli apply failed: $(cat "$WORK/out")" >&2; exit 1; } ;;
    floor)
      "$@" "$FLOOR" "$LIBPQ" "$WORK/data/prices.tsv" >"$WORK/out"
      count=$(cut -d' ' -f2 "$WORK/out") ;;
    prepared)
      "$@" "$FLOOR" --prepared "$LIBPQ" "$WORK/data/prices.tsv" >"$WORK/out" ;;
  esac
}

now() { echo "$EPOCHREALTIME"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

declare -A times
count=0
for ((i = 0; i < REPS; i++)); do
  for side in cli floor prepared; do
    fresh
    t0=$(now)
    run_side "$side"
    t1=$(now)
    times[$side]+=" $(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')"
  done
done

# Round trips: every message batch the client sends waits for the server's answer.
trips() { # side -> "sends timeouts"
  fresh
  run_side "$1" strace -f -qq -e trace=sendto,sendmsg,write -e signal=none -s 64 -o "$WORK/trace"
  local sends timeouts
  sends=$(grep -cE '^[0-9]+ +(sendto|sendmsg)\(' "$WORK/trace" || true)
  timeouts=$(grep -cE '^[0-9]+ +(sendto|sendmsg)\(.*SET statement_timeout' "$WORK/trace" || true)
  echo "$sends $timeouts"
}

f=$(median ${times[floor]})
echo "server route: PostgreSQL $("$PGBIN/postgres" --version | awk '{print $3}') on loopback, $count statements a run"
echo "wall time of each process (start to exit), median of $REPS runs; round trips of one run each (strace)"
printf '%-38s %9s %8s %12s %10s %22s\n' route seconds ratio "round trips" "per stmt" "SET statement_timeout"
for side in cli floor prepared; do
  case $side in
    cli) label="qalu-cli apply (psqlODBC defaults)" ;;
    floor) label="floor: libpq PQexecParams" ;;
    prepared) label="libpq, each text prepared once" ;;
  esac
  read -r sends sets < <(trips "$side")
  awk -v l="$label" -v t="$(median ${times[$side]})" -v f="$f" -v n="$count" -v s="$sends" -v st="$sets" 'BEGIN {
    printf "%-38s %9.3f %7.2fx %12d %10.2f %22d\n", l, t, t / f, s, s / n, st }'
done
