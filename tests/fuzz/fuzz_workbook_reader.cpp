// Any bytes as a workbook file: the read ends in a grid or a Failure, never a crash, a hang or
// unbounded memory.
#include "core/failure.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/qalu-fuzz-%1.xlsx").arg(getpid());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    qalu::TStringGrid grid;
    try {
        qalu::ClearGrid(grid);
        qalu::LoadWorkbookToGrid(grid, path, QChar(u'.'));
        // A grid that loaded is consistent: counts at least 1, every stored cell readable.
        if (grid.RowCount() < 1 || grid.ColCount() < 1)
            __builtin_trap();
        (void)grid.Cells(grid.ColCount() - 1, grid.RowCount() - 1);
    } catch (const qalu::Failure &) {
    }
    return 0;
}
