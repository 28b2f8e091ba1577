#pragma once

#include <QString>

namespace qalu::db {

class TQuery;

struct CategoryResolution
{
    QString guid;
    bool created = false; // this call created the category
};

// Turns a category name into the category's guid, creating the category (with the next category
// number) and its tree node under the root category when no category of that name exists. Runs
// its statements on the four query objects it is given, never on the one the update run uses.
// Nothing is caught: a failing statement's qalu::Failure passes to the caller.
class CategoryResolver
{
public:
    CategoryResolver(TQuery &QFindNewCat, TQuery &QGeneral4, TQuery &QInsertN, TQuery &QGeneral6);

    CategoryResolution Resolve(const QString &name);
    QString FindOrAddCategory(const QString &name) { return Resolve(name).guid; }
    qint32 NextCategoryNumber();

private:
    TQuery &m_findNewCat;
    TQuery &m_general4;
    TQuery &m_insertN;
    TQuery &m_general6;
};

} // namespace qalu::db
