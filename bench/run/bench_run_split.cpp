// Where the time of one price update run goes when the disk is out of the picture: both sides
// work on an in-memory SQLite database loaded from the same file. The run (the program's code:
// reader, update run, category resolution, query objects) is split through its steps into the
// workbook read, the statements on qgeneral and category resolution; the floor sends the same
// statement sequence straight through the sqlite3 C API.
//
//   bench_run_split DATABASE WORKBOOK PRICES.tsv [REPETITIONS]

#include "floor_run.h"

#include "intake/price_grid.h"
#include "intake/workbook_reader.h"
#include "update/update_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDriver>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace qalu;

namespace {

// Copies the database file into the (in-memory) connection.
void loadInto(sqlite3 *target, const QString &file)
{
    sqlite3 *source = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        floor_run::die("open " + file.toStdString());
    sqlite3_backup *backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup || sqlite3_backup_step(backup, -1) != SQLITE_DONE)
        floor_run::die("load " + file.toStdString());
    sqlite3_backup_finish(backup);
    sqlite3_close(source);
}

struct Split
{
    double readMs = 0;
    double walkMs = 0;
    double resolutionMs = 0;
    int resolutions = 0;
};

Split runProgram(const QString &database, const QString &workbook)
{
    Split s;
    update::UpdateSession session;
    session.open(QStringLiteral("Provider=SQLite;Data Source=:memory:"));
    const QVariant handle = session.ADOConnection1.database().driver()->handle();
    loadInto(*static_cast<sqlite3 *const *>(handle.constData()), database);

    QElapsedTimer total;
    QElapsedTimer step;
    update::UpdateRun::Steps steps = session.steps(workbook, QChar(u'.'));
    steps.ClearGrid = [&, clear = steps.ClearGrid] {
        total.start();
        clear();
    };
    steps.LoadWorkbookToGrid = [&, load = steps.LoadWorkbookToGrid] {
        load();
        s.readMs = double(total.nsecsElapsed()) / 1e6;
    };
    steps.FindOrAddCategory = [&, resolve = steps.FindOrAddCategory](const QString &name) {
        step.start();
        update::CategoryResolution category = resolve(name);
        s.resolutionMs += double(step.nsecsElapsed()) / 1e6;
        ++s.resolutions;
        return category;
    };
    const update::UpdateOutcome outcome = session.run(workbook, QChar(u'.'), steps).outcome;
    s.walkMs = double(total.nsecsElapsed()) / 1e6 - s.readMs;
    if (outcome != update::UpdateOutcome::Completed) {
        std::fprintf(stderr, "bench_run_split: the run ended with: %s\n",
            update::updateMessage(outcome).toUtf8().constData());
        std::exit(1);
    }
    return s;
}

double runFloor(const QString &database, const floor_run::Grid &grid, long *statements)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK)
        floor_run::die("open :memory:");
    loadInto(db, database);
    QElapsedTimer t;
    t.start();
    *statements = floor_run::applyGrid(db, grid);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    sqlite3_close(db);
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fputs("usage: bench_run_split DATABASE WORKBOOK PRICES.tsv [REPETITIONS]\n", stderr);
        return 1;
    }
    const QString database = args.at(1);
    const QString workbook = args.at(2);
    const floor_run::Grid grid = floor_run::readTsv(args.at(3).toUtf8().constData());
    const int repetitions = args.size() > 4 ? std::max(1, args.at(4).toInt()) : 7;

    std::vector<Split> runs;
    std::vector<double> floor;
    long count = 0;
    for (int i = 0; i < repetitions; ++i) {
        floor.push_back(runFloor(database, grid, &count));
        runs.push_back(runProgram(database, workbook));
    }
    // The parts are shown for the repetition whose whole run is the median one, so they add up.
    std::sort(runs.begin(), runs.end(),
        [](const Split &a, const Split &b) { return a.readMs + a.walkMs < b.readMs + b.walkMs; });
    const Split &m = runs[runs.size() / 2];
    const double r = m.readMs, c = m.resolutionMs, w = m.walkMs, q = w - c, f = median(floor);
    const double all = r + w;
    std::printf("in-memory database, %ld statements (%d insert rows resolved), median of %d runs\n", count,
        m.resolutions, repetitions);
    std::printf("%-36s %10s %8s\n", "part of the run", "ms", "share");
    std::printf("%-36s %10.2f %7.1f%%\n", "workbook read (ClearGrid + Load)", r, 100 * r / all);
    std::printf("%-36s %10.2f %7.1f%%\n", "statements on qgeneral", q, 100 * q / all);
    std::printf("%-36s %10.2f %7.1f%%\n", "category resolution", c, 100 * c / all);
    std::printf("%-36s %10.2f\n", "whole run", all);
    std::printf("%-36s %10.2f\n", "floor: same statements via sqlite3", f);
    std::printf("walk / floor %.2fx, whole run / floor %.2fx; per statement: run %.1f us, floor %.1f us\n",
        w / f, all / f, 1000 * w / double(count), 1000 * f / double(count));
    return 0;
}
