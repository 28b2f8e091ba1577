// Where the time of one price update run goes: the workbook read, the statements on qgeneral and
// category resolution, measured inside the run through its steps. Each repetition works on a
// fresh copy of the database, put next to the original (use a tmpfs directory such as /dev/shm
// to take the disk out of the figures).
//
//   bench_run_split DATABASE WORKBOOK [REPETITIONS]

#include "db/category_resolver.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/update_run.h"
#include "intake/decimal_separator.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace qalu;

namespace {

struct Split
{
    double readMs = 0;
    double walkMs = 0;
    double resolutionMs = 0;
    int resolutions = 0;
    int rows = 0;
};

Split runOnce(const QString &database, const QString &workbook)
{
    Split s;
    db::TConnection ADOConnection1;
    ADOConnection1.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + database);
    ADOConnection1.Open();
    TStringGrid StringGrid1;
    db::TQuery qgeneral(ADOConnection1, QStringLiteral("qgeneral"), 50);
    db::TQuery QGeneral6(ADOConnection1, QStringLiteral("QGeneral6"));
    db::TQuery QInsertN(ADOConnection1, QStringLiteral("QInsertN"));
    db::TQuery QFindNewCat(ADOConnection1, QStringLiteral("QFindNewCat"));
    db::TQuery QGeneral4(ADOConnection1, QStringLiteral("QGeneral4"));
    db::CategoryResolver resolver(QFindNewCat, QGeneral4, QInsertN, QGeneral6);

    QElapsedTimer total;
    QElapsedTimer step;
    db::UpdateRun run(StringGrid1, qgeneral,
                      {[&] {
                           total.start();
                           ClearGrid(StringGrid1);
                       },
                       [&] {
                           LoadWorkbookToGrid(StringGrid1, workbook);
                           s.readMs = total.nsecsElapsed() / 1e6;
                           s.rows = std::min(StringGrid1.RowCount(), 1500) - 1;
                       },
                       [&](const QString &name) {
                           step.start();
                           QString guid = resolver.FindOrAddCategory(name);
                           s.resolutionMs += step.nsecsElapsed() / 1e6;
                           ++s.resolutions;
                           return guid;
                       }});
    const db::UpdateOutcome outcome = run.run();
    s.walkMs = total.nsecsElapsed() / 1e6 - s.readMs;
    if (outcome != db::UpdateOutcome::Completed) {
        std::fprintf(stderr, "bench_run_split: run ended with: %s\n",
                     db::updateMessage(outcome).toUtf8().constData());
        std::exit(1);
    }
    return s;
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
    if (args.size() < 3) {
        std::fputs("usage: bench_run_split DATABASE WORKBOOK [REPETITIONS]\n", stderr);
        return 1;
    }
    setDecimalSeparator(QChar(u'.'));
    const QString original = args.at(1);
    const QString workbook = args.at(2);
    const int repetitions = args.size() > 3 ? std::max(1, args.at(3).toInt()) : 5;
    const QString copy = original + QStringLiteral(".split-copy");

    std::vector<double> read, walk, resolution, statements;
    Split last;
    for (int i = 0; i < repetitions; ++i) {
        QFile::remove(copy);
        if (!QFile::copy(original, copy)) {
            std::fprintf(stderr, "bench_run_split: cannot copy %s\n", qPrintable(original));
            return 1;
        }
        last = runOnce(copy, workbook);
        read.push_back(last.readMs);
        walk.push_back(last.walkMs);
        resolution.push_back(last.resolutionMs);
        statements.push_back(last.walkMs - last.resolutionMs);
    }
    QFile::remove(copy);

    const double r = median(read), w = median(walk), c = median(resolution), q = median(statements);
    const double all = r + w;
    std::printf("rows applied %d, insert rows (resolutions) %d, median of %d runs\n", last.rows,
                last.resolutions, repetitions);
    std::printf("%-34s %10s %8s\n", "part", "ms", "share");
    std::printf("%-34s %10.2f %7.1f%%\n", "workbook read (ClearGrid+Load)", r, 100 * r / all);
    std::printf("%-34s %10.2f %7.1f%%\n", "statements on qgeneral", q, 100 * q / all);
    std::printf("%-34s %10.2f %7.1f%%\n", "category resolution", c, 100 * c / all);
    std::printf("%-34s %10.2f\n", "whole run", all);
    return 0;
}
