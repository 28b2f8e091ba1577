// The floor for the price update benchmark on PostgreSQL: the run's statement sequence through
// libpq, each statement one PQexecParams (parse, bind, execute in one round trip, unnamed
// statement, values as text, types left to the server) committing by itself. With --prepared,
// each text is prepared once (PQprepare) and then executed (PQexecPrepared), as the query objects
// do through ODBC: the server parses and plans each text once. The texts are those the ODBC route
// sends: '?' numbered as $1, $2, ... and isnull( kept. Prints the elapsed seconds and the number
// of statements.

#include "floor_run.h"

#include <libpq-fe.h>

#include <charconv>
#include <chrono>
#include <unordered_map>

namespace {

PGconn *conn = nullptr;
bool prepareOnce = false;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "pg floor: %s: %s\n", what.c_str(), conn ? PQerrorMessage(conn) : "");
    std::exit(1);
}

struct Text
{
    std::string sql; // '?' numbered as $n; the run's texts hold no quoted question marks
    std::string name; // of the prepared statement, with --prepared
};

const Text &numbered(const std::string &sql, int parameters)
{
    static std::unordered_map<std::string, Text> texts;
    auto it = texts.find(sql);
    if (it != texts.end())
        return it->second;
    Text t;
    int n = 0;
    for (char c : sql) {
        if (c == '?')
            t.sql += '$' + std::to_string(++n);
        else
            t.sql += c;
    }
    if (prepareOnce) {
        t.name = "s" + std::to_string(texts.size());
        PGresult *res = PQprepare(conn, t.name.c_str(), t.sql.c_str(), parameters, nullptr);
        if (PQresultStatus(res) != PGRES_COMMAND_OK)
            fail("prepare " + sql);
        PQclear(res);
    }
    return texts.emplace(sql, std::move(t)).first->second;
}

std::string runPg(const std::string &sql, const std::vector<floor_run::Value> &values, int *rowCount)
{
    std::vector<std::string> texts(values.size());
    std::vector<const char *> params(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        const floor_run::Value &v = values[k];
        char buf[32];
        if (v.kind == floor_run::Value::Double)
            texts[k].assign(buf, std::to_chars(buf, buf + sizeof buf, v.d).ptr);
        else if (v.kind == floor_run::Value::Int)
            texts[k] = std::to_string(v.i);
        else
            texts[k] = v.s;
        params[k] = texts[k].c_str();
    }
    const Text &t = numbered(sql, int(values.size()));
    PGresult *res = prepareOnce
        ? PQexecPrepared(conn, t.name.c_str(), int(values.size()), params.data(), nullptr, nullptr, 0)
        : PQexecParams(conn, t.sql.c_str(), int(values.size()), nullptr, params.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(res);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(sql);
    const int rows = status == PGRES_TUPLES_OK ? PQntuples(res) : 0;
    std::string first = rows > 0 && !PQgetisnull(res, 0, 0) ? PQgetvalue(res, 0, 0) : "";
    PQclear(res);
    ++floor_run::statements;
    if (rowCount)
        *rowCount = rows;
    return first;
}

} // namespace

int main(int argc, char **argv)
{
    prepareOnce = argc == 4 && std::string(argv[1]) == "--prepared";
    if (prepareOnce) {
        --argc;
        ++argv;
    }
    if (argc != 3) {
        std::fputs("usage: bench_run_pg_floor [--prepared] CONNINFO PRICES.tsv\n", stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const floor_run::Grid grid = floor_run::readTsv(argv[2]);
    conn = PQconnectdb(argv[1]);
    if (PQstatus(conn) != CONNECTION_OK)
        fail("connect");
    floor_run::runStatement = runPg;
    floor_run::nextNumberStatement = "select isnull(max(nnum),0) from Category00\r\n";
    const long statements = floor_run::applyGrid(grid);
    PQfinish(conn);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %ld\n", seconds, statements);
    return 0;
}
