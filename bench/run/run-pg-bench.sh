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

source "$ROOT/bench/run/bench-postgres.sh"
WORK=$(mktemp -d /tmp/qalu-pg-bench.XXXXXX)
cleanup() {
  stop_bench_postgres
  rm -rf "$WORK"
}
trap cleanup EXIT

"$PYTHON" "$ROOT/bench/run/make_bench_data.py" "$ROOT" "$WORK/data"
start_bench_postgres "$WORK/data/pharmacy.db"

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
