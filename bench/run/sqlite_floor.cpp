// The floor for the price update benchmark as a process of its own: opens the database file,
// applies the grid texts of prices.tsv with the run's statement sequence straight through the
// sqlite3 C API, and prints the elapsed seconds and the number of statements.

#include "floor_run.h"

#include <chrono>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: bench_run_sqlite_floor DATABASE PRICES.tsv\n", stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const floor_run::Grid grid = floor_run::readTsv(argv[2]);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        floor_run::die("open");
    sqlite3_busy_timeout(db, 5000);
    const long statements = floor_run::applyGrid(db, grid);
    sqlite3_close(db);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %ld\n", seconds, statements);
    return 0;
}
