// The floor for the price update benchmark: the statement sequence of one update run over the
// grid texts in prices.tsv, sent straight through the sqlite3 C API. Each statement is prepared,
// bound, stepped and finalized on its own and commits by itself, as the program's statements do.
// The texts are those the database layer sends to SQLite (isnull( becomes ifnull( there).
// Prints the elapsed time and the statement count.

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

sqlite3 *db = nullptr;
long statements = 0;

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "sqlite_floor: %s: %s\n", what.c_str(), db ? sqlite3_errmsg(db) : "");
    std::exit(1);
}

struct Value
{
    enum Kind { Double, Int, Text } kind;
    double d = 0;
    long i = 0;
    std::string s;
};

Value dbl(double d) { return {Value::Double, d, 0, {}}; }
Value integer(long i) { return {Value::Int, 0, i, {}}; }
Value text(std::string s) { return {Value::Text, 0, 0, std::move(s)}; }
Value price(const std::string &cell) { return cell.empty() ? integer(0) : dbl(std::strtod(cell.c_str(), nullptr)); }

// Runs one statement; returns the first column of the first row as text (empty without a row)
// and the row count.
std::string run(const std::string &sql, const std::vector<Value> &values, int *rowCount = nullptr)
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

std::string findOrAddCategory(const std::string &name)
{
    int found = 0;
    std::string guid = run("select guid from Category00 where CName= ?\r\n", {text(name)}, &found);
    if (found > 0)
        return guid;
    const long number = std::atol(run("select ifnull(max(nnum),0) from Category00\r\n", {}).c_str()) + 1;
    run("insert into Category00(CName,Cnum,nNum,Notes)values(?,?,?,?)\r\n",
        {text(name), integer(number), integer(number), text("")});
    const long tree = std::atol(run("select max(nnum)+1 from Category00 \r\n", {}).c_str());
    const std::string root = run("select guid from Category00 where nnum=1\r\n", {});
    guid = run("select guid,cname from Category00 where nnum= ?\r\n", {integer(number)});
    run("insert into TreeView(id,ParentId,num,parentGuid,CatGuidGuid,levl,TypeNode)values(?,?,?,?,?,?,?)\r\n",
        {integer(1), integer(0), integer(tree), text(root), text(guid), integer(1), integer(0)});
    return guid;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: sqlite_floor DATABASE PRICES.tsv\n", stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<std::string>> grid;
    {
        std::ifstream in(argv[2]);
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
    }
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        die("open");
    sqlite3_busy_timeout(db, 5000);

    const size_t rows = std::min<size_t>(grid.size(), 1500);
    for (size_t r = 1; r < rows; ++r) {
        const auto &c = grid[r];
        if (!c[0].empty()) {
            run("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?\r\n",
                {price(c[1]), price(c[2]), price(c[3]), price(c[4]), text(c[0])});
            continue;
        }
        std::vector<Value> v{integer(long(r) + 222000), text(c[5]), text(c[5]), text(c[8]), price(c[2]),
                             price(c[1]), integer(0), integer(0), integer(0), integer(0), integer(0), integer(0)};
        v.push_back(text(findOrAddCategory(c[7])));
        for (const char *t : {"وحدة1", "وحدة2", "وحدة3", "", ""})
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
    sqlite3_close(db);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %ld\n", seconds, statements);
    return 0;
}
