#!/usr/bin/env bash
# Many branches at once. Applies the 1,500-row price list (1,300 update rows, 199 insert rows over
# 20 new categories) to 50 SQLite branch databases on tmpfs with one `qalu-cli apply --branches`
# at --jobs 1, 2, 4 and 8, against 50 separate `qalu-cli apply` runs one after the other; then the
# same on one PostgreSQL server on loopback through unixODBC + psqlODBC (8 databases), where the
# server is the limit. Each side starts from fresh copies of the databases; journals are kept as in
# a real run. Prints wall times and the ratio to the one-after-the-other runs; asserts nothing.
#
# usage: bench/branches/run-branches-bench.sh [BUILD_DIR] [SQLITE_BRANCHES] [PG_BRANCHES]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/default}
SQLITE_BRANCHES=${2:-50}
PG_BRANCHES=${3:-8}
PYTHON=/usr/bin/python3
command -v "$PYTHON" >/dev/null || PYTHON=python3

cmake --build "$BUILD" --target qalu-cli >/dev/null
CLI=$BUILD/tools/qalu-cli/qalu-cli

SHM=$(mktemp -d /dev/shm/qalu-bench-branches.XXXXXX)
WORK=$(mktemp -d /tmp/qalu-bench-branches.XXXXXX)
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
source "$ROOT/bench/run/bench-postgres.sh"
cleanup() {
  [ -n "$PGBIN" ] && stop_bench_postgres
  rm -rf "$SHM" "$WORK"
}
trap cleanup EXIT

"$PYTHON" "$ROOT/bench/run/make_bench_data.py" "$ROOT" "$SHM/data" >/dev/null
LIST=$SHM/data/prices.xlsx
NCPU=$(nproc)

now() { echo "$EPOCHREALTIME"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }

# One apply per branch, one after the other: what a chain does today.
sequential() { # connection-string-of-branch-N function, count
  local conn=$1 n=$2 t0 t1
  t0=$(now)
  for ((i = 1; i <= n; i++)); do
    "$CLI" apply --connection "$("$conn" "$i")" --decimal-separator . --journal-dir "$SHM/journals" \
      "$LIST" >"$SHM/out" || { echo "qalu-cli apply failed on branch $i: $(cat "$SHM/out")" >&2; exit 1; }
  done
  t1=$(now)
  seconds "$t0" "$t1"
}

together() { # branches-file jobs
  local t0 t1
  t0=$(now)
  "$CLI" apply --branches "$1" --jobs "$2" --decimal-separator . --journal-dir "$SHM/journals" \
    "$LIST" >"$SHM/out" 2>"$SHM/err" || {
    echo "qalu-cli apply --branches failed: $(head -c 2000 "$SHM/out" "$SHM/err")" >&2; exit 1; }
  t1=$(now)
  seconds "$t0" "$t1"
}

table() { # title fresh-function connection-function count
  local title=$1 fresh=$2 conn=$3 n=$4 base t
  echo "$title"
  printf '%-24s %10s %8s %12s\n' side "wall s" ratio "rows/s"
  "$fresh"
  base=$(sequential "$conn" "$n")
  printf '%-24s %10s %8s %12.0f\n' "$n x apply, in turn" "$base" "1.00x" "$(awk -v s="$base" -v n="$n" 'BEGIN {print n * 1500 / s}')"
  for jobs in 1 2 4 8; do
    "$fresh"
    t=$(together "$SHM/branches.tsv" "$jobs")
    printf '%-24s %10s %7.2fx %12.0f\n' "--branches --jobs $jobs" "$t" \
      "$(awk -v b="$base" -v t="$t" 'BEGIN {print b / t}')" "$(awk -v s="$t" -v n="$n" 'BEGIN {print n * 1500 / s}')"
  done
  echo
}

# SQLite branches on tmpfs.
sqlite_conn() { printf 'Provider=SQLite;Data Source=%s/branch-%02d.db' "$SHM" "$1"; }
sqlite_fresh() {
  rm -rf "$SHM/journals"
  : >"$SHM/branches.tsv"
  for ((i = 1; i <= SQLITE_BRANCHES; i++)); do
    cp "$SHM/data/pharmacy.db" "$(printf '%s/branch-%02d.db' "$SHM" "$i")"
    printf 'branch-%02d\t%s\n' "$i" "$(sqlite_conn "$i")" >>"$SHM/branches.tsv"
  done
}
echo "machine: $NCPU cores; each side from fresh copies; wall time of the whole side; ratio = in-turn time / this side's time"
echo
table "SQLite: $SQLITE_BRANCHES branch files on tmpfs" sqlite_fresh sqlite_conn "$SQLITE_BRANCHES"

# Branches on one PostgreSQL server through ODBC.
if [ -z "$PGBIN" ] || ! odbcinst -q -d 2>/dev/null | grep -q 'PostgreSQL Unicode'; then
  echo "PostgreSQL or psqlODBC missing: the server table is skipped (scripts/install-deps bench test)"
  exit 0
fi
start_bench_postgres "$SHM/data/pharmacy.db" "-c max_connections=40"
pg_conn() { printf 'Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=%s;Database=branch_%02d;Uid=postgres;Pwd=;' "$PORT" "$1"; }
pg_fresh() {
  rm -rf "$SHM/journals"
  : >"$SHM/branches.tsv"
  for ((i = 1; i <= PG_BRANCHES; i++)); do
    "${PSQL[@]}" -d postgres -c "drop database if exists branch_$(printf %02d "$i")" \
      -c "create database branch_$(printf %02d "$i") template bench_template"
    printf 'branch-%02d\t%s\n' "$i" "$(pg_conn "$i")" >>"$SHM/branches.tsv"
  done
}
table "PostgreSQL: $PG_BRANCHES databases on one server on loopback, through ODBC" pg_fresh pg_conn "$PG_BRANCHES"
