#include "intake/workbook_reader.h"

#include "intake/cells_to_grid.h"
#include "intake/price_grid.h"
#include "intake/xlsx_parts.h"
#include "intake/xlsx_sheet.h"
#include "intake/xlsx_stream.h"

#include <QFileInfo>

namespace qalu {

using namespace xlsx;

void ClearGrid(TStringGrid &grid)
{
    // Writing the empty text into every cell inside the counts, row by row, leaves exactly the
    // stored cells inside the counts removed; the sparse grid does that without visiting the rest.
    const int rows = grid.RowCount();
    grid.clearBlock(grid.ColCount(), 0, rows);
}

void LoadWorkbookToGrid(TStringGrid &grid, const QString &path, QChar decimalSeparator)
{
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("%1 does not exist").arg(path));
    if (!info.isFile())
        fail(QStringLiteral("%1 is not a file").arg(path));

    Archive archive(path);

    RelsHandler rootRels { std::string() };
    if (!archive.has("_rels/.rels"))
        fail(QStringLiteral("not a workbook (no package relationships)"));
    archive.parse("_rels/.rels", kMaxSmallPart, rootRels);
    const Relationship *office = rootRels.firstOfType("/officeDocument");
    if (!office)
        fail(QStringLiteral("not a workbook (no main document)"));
    const std::string workbookPart = office->target;

    WorkbookHandler workbook;
    archive.parse(workbookPart, kMaxSmallPart, workbook);

    const std::string workbookDir = directoryOf(workbookPart);
    RelsHandler workbookRels { workbookDir };
    const std::string relsPart = workbookDir + "_rels/" + workbookPart.substr(workbookDir.size()) + ".rels";
    archive.parse(relsPart, kMaxSmallPart, workbookRels);

    // The first worksheet in the workbook's own order; chart sheets are not worksheets.
    const Relationship *sheet = nullptr;
    for (const auto &id : workbook.sheetIds) {
        const Relationship *r = workbookRels.byId(id);
        if (r && endsWith(r->type, "/worksheet")) {
            sheet = r;
            break;
        }
    }
    if (!sheet)
        fail(QStringLiteral("the workbook has no worksheet"));

    std::vector<NumberKind> styles;
    if (const Relationship *r = workbookRels.firstOfType("/styles"); r && archive.has(r->target)) {
        StylesHandler handler;
        archive.parse(r->target, kMaxSmallPart, handler);
        styles = handler.kinds();
    }
    SharedStringsHandler shared;
    if (const Relationship *r = workbookRels.firstOfType("/sharedStrings"); r && archive.has(r->target))
        archive.parse(r->target, kMaxSharedStrings, shared);

    const std::string separator = toGridText(QString(decimalSeparator)).toStdString();
    SheetHandler cells(styles, shared, separator);
    archive.parse(sheet->target, kMaxSheet, cells);

    writeCellsToGrid(grid, cells, shared, workbook.date1904, separator);
}

} // namespace qalu
