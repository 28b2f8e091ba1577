# Sourced by the server benchmarks: a throw-away PostgreSQL on loopback holding `bench_template`,
# the pharmacy tables with the benchmark's medicines, for copies made with `create database ...
# template bench_template`. Needs ROOT, PYTHON, PGBIN, WORK (owned by the caller, removed by it).
#   start_bench_postgres PHARMACY_DB [SERVER_OPTIONS]   sets PORT and PSQL (an array)
#   stop_bench_postgres

as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

start_bench_postgres() {
  local pharmacy=$1 options=${2:-}
  [ "$(id -u)" -eq 0 ] && chown postgres "$WORK"
  PORT=${QALU_BENCH_PG_PORT:-$("$PYTHON" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}
  as_pg "$PGBIN/initdb" -D "$WORK/pg" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >/dev/null
  as_pg "$PGBIN/pg_ctl" -D "$WORK/pg" -l "$WORK/pg/server.log" -w \
    -o "-p $PORT -k $WORK -c listen_addresses=127.0.0.1 -c fsync=off $options" start >/dev/null
  export PGOPTIONS="-c client_min_messages=warning"
  PSQL=("$PGBIN/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PORT" -U postgres)
  "$PYTHON" - "$pharmacy" >"$WORK/mat00.csv" <<'PY'
import csv, sqlite3, sys
rows = sqlite3.connect(sys.argv[1]).execute(
    'select guid, MatNum, MatName, MatNameEng, salp, Price1, CatGuid from mat00 where MatNum >= 5000')
csv.writer(sys.stdout).writerows(rows)
PY
  "${PSQL[@]}" -d postgres -c "create database bench_template"
  "${PSQL[@]}" -d bench_template -f "$ROOT/tests/db/pg-schema.sql" -f "$ROOT/db/sql/seed.sql" \
    -c "\\copy mat00(guid, MatNum, MatName, MatNameEng, salp, Price1, CatGuid) from '$WORK/mat00.csv' csv" \
    -c "analyze"
}

stop_bench_postgres() {
  as_pg "$PGBIN/pg_ctl" -D "$WORK/pg" -m immediate stop >/dev/null 2>&1 || true
}
