#!/usr/bin/env bash
# Price update run benchmark. Applies a 1,500-row price list (1,300 update rows, 199 insert rows
# over 20 new categories) to a SQLite file database with `qalu-cli apply`, and the same statement
# sequence straight through the sqlite3 C API (the floor) on a copy of the same database; on disk
# and on tmpfs. Then splits the run's time on an in-memory database. Prints the figures; asserts
# nothing.
#
# usage: bench/run/run-bench.sh [BUILD_DIR] [REPETITIONS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/default}
REPS=${2:-3}
PYTHON=/usr/bin/python3
command -v "$PYTHON" >/dev/null || PYTHON=python3

cmake -S "$ROOT" -B "$BUILD" -DQALU_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" --target qalu-cli bench_run_sqlite_floor bench_run_split >/dev/null
CLI=$BUILD/tools/qalu-cli/qalu-cli
FLOOR=$BUILD/bench/run/bench_run_sqlite_floor
SPLIT=$BUILD/bench/run/bench_run_split

DISK=$(mktemp -d "$BUILD/bench-run.XXXXXX")
SHM=$(mktemp -d /dev/shm/qalu-bench-run.XXXXXX)
trap 'rm -rf "$DISK" "$SHM"' EXIT
"$PYTHON" "$ROOT/bench/run/make_bench_data.py" "$ROOT" "$DISK/data"
cp "$DISK/data/"* "$SHM/"

now() { echo "$EPOCHREALTIME"; }

# median of the arguments
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

measure() { # place dir
  local place=$1 dir=$2 cli_times=() floor_times=() count=0
  for ((i = 0; i < REPS; i++)); do
    for side in cli floor; do
      cp "$dir/pharmacy.db" "$dir/run.db"
      rm -f "$dir/run.db-journal" "$dir/run.db-wal" "$dir/run.db-shm"
      sync
      if [ "$side" = cli ]; then
        t0=$(now)
        out=$("$CLI" apply --connection "Provider=SQLite;Data Source=$dir/run.db" --decimal-separator . --journal-dir "$dir/journals" "$dir/prices.xlsx") || {
          echo "qalu-cli apply failed: $out" >&2; exit 1; }
        t1=$(now)
        cli_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
      else
        t0=$(now)
        floor_out=$("$FLOOR" "$dir/run.db" "$dir/prices.tsv")
        t1=$(now)
        count=${floor_out#* }
        floor_times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')")
      fi
    done
  done
  local c f
  c=$(median "${cli_times[@]}")
  f=$(median "${floor_times[@]}")
  awk -v p="$place" -v c="$c" -v f="$f" -v n="$count" 'BEGIN {
    printf "%-8s %12.3f %12.3f %8.2fx %14.0f %14.0f\n", p, c, f, c / f, n / c, n / f }'
}

echo "wall time of each process (start to exit), median of $REPS runs; statements: the floor's count of the same sequence"
printf '%-8s %12s %12s %9s %14s %14s\n' where "qalu-cli s" "floor s" ratio "cli stmt/s" "floor stmt/s"
measure disk "$DISK/data"
measure tmpfs "$SHM"
echo
echo "time split inside the run:"
"$SPLIT" "$SHM/pharmacy.db" "$SHM/prices.xlsx" "$SHM/prices.tsv" 7
