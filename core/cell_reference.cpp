#include "core/cell_reference.h"

namespace qalu {

QString columnName(int column)
{
    QString name;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        name.prepend(QChar(u'A' + (n - 1) % 26));
    return name;
}

QString cellReference(int column, int sheetRow)
{
    return columnName(column) + QString::number(sheetRow);
}

} // namespace qalu
