#pragma once

// The statement sequence of one price update run over grid texts, sent straight through the
// sqlite3 C API: the benchmark's floor. Each statement is prepared, bound, stepped and finalized
// on its own and commits by itself, as the program's statements do. The texts are those the
// database layer sends to SQLite (isnull( becomes ifnull( there). A floor for another database
// sets runStatement and nextNumberStatement and calls applyGrid(grid).

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace floor_run {

inline sqlite3 *db = nullptr;
inline long statements = 0;

[[noreturn]] inline void die(const std::string &what)
{
    std::fprintf(stderr, "floor: %s: %s\n", what.c_str(), db ? sqlite3_errmsg(db) : "");
    std::exit(1);
}

struct Value
{
    enum Kind { Double, Int, Text } kind;
    double d = 0;
    long i = 0;
    std::string s;
};

inline Value dbl(double d)
{
    return { Value::Double, d, 0, {} };
}
inline Value integer(long i)
{
    return { Value::Int, 0, i, {} };
}
inline Value text(std::string s)
{
    return { Value::Text, 0, 0, std::move(s) };
}
inline Value price(const std::string &cell)
{
    return cell.empty() ? integer(0) : dbl(std::strtod(cell.c_str(), nullptr));
}

// Runs one statement; returns the first column of the first row as text (empty without a row)
// and the row count.
inline std::string runSqlite(const std::string &sql, const std::vector<Value> &values, int *rowCount)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        die("prepare " + sql);
    for (size_t k = 0; k < values.size(); ++k) {
        const Value &v = values[k];
        const int pos = int(k) + 1;
        if (v.kind == Value::Double)
            sqlite3_bind_double(st, pos, v.d);
        else if (v.kind == Value::Int)
            sqlite3_bind_int(st, pos, int(v.i));
        else
            sqlite3_bind_text(st, pos, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT);
    }
    std::string first;
    int rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (rows++ == 0 && sqlite3_column_type(st, 0) != SQLITE_NULL)
            first = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    }
    if (rc != SQLITE_DONE)
        die("step " + sql);
    sqlite3_finalize(st);
    ++statements;
    if (rowCount)
        *rowCount = rows;
    return first;
}

// The route the sequence below runs on (the sqlite3 one unless a floor program picks another),
// and its spelling of the next-number query: SQLite has no isnull( call.
inline std::string (*runStatement)(const std::string &, const std::vector<Value> &, int *) = runSqlite;
inline const char *nextNumberStatement = "select ifnull(max(nnum),0) from Category00\r\n";

inline std::string run(const std::string &sql, const std::vector<Value> &values, int *rowCount = nullptr)
{
    return runStatement(sql, values, rowCount);
}

inline std::string findOrAddCategory(const std::string &name)
{
    int found = 0;
    std::string guid = run("select guid from Category00 where CName= ?\r\n", { text(name) }, &found);
    if (found > 0)
        return guid;
    const long number = std::atol(run(nextNumberStatement, {}).c_str()) + 1;
    run("insert into Category00(CName,Cnum,nNum,Notes)values(?,?,?,?)\r\n",
        { text(name), integer(number), integer(number), text("") });
    const long tree = std::atol(run("select max(nnum)+1 from Category00 \r\n", {}).c_str());
    const std::string root = run("select guid from Category00 where nnum=1\r\n", {});
    guid = run("select guid,cname from Category00 where nnum= ?\r\n", { integer(number) });
    run("insert into TreeView(id,ParentId,num,parentGuid,CatGuidGuid,levl,TypeNode)values(?,?,?,?,?,?,?)\r\n",
        { integer(1), integer(0), integer(tree), text(root), text(guid), integer(1), integer(0) });
    return guid;
}

} // namespace floor_run

namespace floor_run {

using Grid = std::vector<std::vector<std::string>>;

// The grid as tab-separated lines, 11 cells a row.
inline Grid readTsv(const char *path)
{
    Grid grid;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            cells.push_back(line.substr(from, tab - from));
        cells.push_back(line.substr(from));
        cells.resize(11);
        grid.push_back(std::move(cells));
    }
    return grid;
}

// Applies grid rows 1..min(N,1500)-1 on the route chosen; returns the number of statements sent.
inline long applyGrid(const Grid &grid)
{
    statements = 0;
    const size_t rows = std::min<size_t>(grid.size(), 1500);
    for (size_t r = 1; r < rows; ++r) {
        const auto &c = grid[r];
        if (!c[0].empty()) {
            run("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?\r\n",
                { price(c[1]), price(c[2]), price(c[3]), price(c[4]), text(c[0]) });
            continue;
        }
        std::vector<Value> v { integer(long(r) + 222000), text(c[5]), text(c[5]), text(c[8]), price(c[2]),
            price(c[1]), integer(0), integer(0), integer(0), integer(0), integer(0), integer(0) };
        v.push_back(text(findOrAddCategory(c[7])));
        for (const char *t : { "وحدة1", "وحدة2", "وحدة3", "", "" })
            v.push_back(text(t));
        v.push_back(text(c[10]));
        v.push_back(text(""));
        v.push_back(text("1-1-1800"));
        v.push_back(text(c[9]));
        run("insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,"
            "salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)\r\n"
            "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)\r\n",
            v);
    }
    return statements;
}

// The same on `connection` through the sqlite3 C API.
inline long applyGrid(sqlite3 *connection, const Grid &grid)
{
    db = connection;
    runStatement = runSqlite;
    nextNumberStatement = "select ifnull(max(nnum),0) from Category00\r\n";
    return applyGrid(grid);
}

} // namespace floor_run
