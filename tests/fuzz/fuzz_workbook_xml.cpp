// Any sheet, shared-strings and styles XML inside a sound package, so the fuzzer reaches the XML
// handlers past the archive's checksums. The input holds the three parts separated by 0xFF bytes.
#include "core/failure.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char rootRels[]
    = "<?xml version=\"1.0\"?><Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
const char workbook[]
    = "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><workbookPr/><sheets>"
      "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId3\"/></sheets></workbook>";
const char workbookRels[]
    = "<?xml version=\"1.0\"?><Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "sharedStrings\" Target=\"sharedStrings.xml\"/>"
      "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "styles\" Target=\"styles.xml\"/>"
      "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>";

bool add(zip_t *z, const char *name, const std::string &data)
{
    // libzip copies nothing: the buffer must outlive zip_close, which the caller's strings do.
    zip_source_t *source = zip_source_buffer(z, data.data(), data.size(), 0);
    if (!source)
        return false;
    if (zip_file_add(z, name, source, ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(source);
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/qalu-fuzz-xml-%1.xlsx").arg(getpid());
    std::vector<std::string> parts(3);
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && part < 2)
            ++part;
        else
            parts[part] += char(data[i]);
    }
    const std::string root(rootRels), book(workbook), bookRels(workbookRels);
    QFile::remove(path);
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return 0;
    const bool ok = add(z, "_rels/.rels", root) && add(z, "xl/workbook.xml", book)
        && add(z, "xl/_rels/workbook.xml.rels", bookRels) && add(z, "xl/worksheets/sheet1.xml", parts[0])
        && add(z, "xl/sharedStrings.xml", parts[1]) && add(z, "xl/styles.xml", parts[2]);
    if (!ok || zip_close(z) != 0) {
        zip_discard(z);
        return 0;
    }
    qalu::TStringGrid grid;
    try {
        qalu::ClearGrid(grid);
        qalu::LoadWorkbookToGrid(grid, path, QChar(u'.'));
        if (grid.RowCount() < 1 || grid.ColCount() < 1)
            __builtin_trap();
    } catch (const qalu::Failure &) {
    }
    return 0;
}
