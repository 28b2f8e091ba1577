// Reads one workbook into a fresh price grid, as the update run does, and prints the time taken,
// the grid's size and the process's peak memory: "seconds<TAB>rows<TAB>cols<TAB>peak-KiB".
#include "core/failure.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("usage: bench_intake_read WORKBOOK\n", stderr);
        return 1;
    }
    qalu::TStringGrid grid;
    QElapsedTimer timer;
    timer.start();
    try {
        qalu::ClearGrid(grid);
        qalu::LoadWorkbookToGrid(grid, QString::fromLocal8Bit(argv[1]), QChar(u'.'));
    } catch (const qalu::Failure &f) {
        std::fprintf(stderr, "bench_intake_read: %s\n", qPrintable(f.text()));
        return 1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f\t%d\t%d\t%ld\n", seconds, grid.RowCount(), grid.ColCount(), usage.ru_maxrss);
    return 0;
}
