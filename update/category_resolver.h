#pragma once

#include <QString>

namespace qalu::db {
class TQuery;
}

namespace qalu::update {

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
    CategoryResolver(
        db::TQuery &QFindNewCat, db::TQuery &QGeneral4, db::TQuery &QInsertN, db::TQuery &QGeneral6);

    CategoryResolution Resolve(const QString &name);
    QString FindOrAddCategory(const QString &name) { return Resolve(name).guid; }
    qint32 NextCategoryNumber();

private:
    db::TQuery &m_findNewCat;
    db::TQuery &m_general4;
    db::TQuery &m_insertN;
    db::TQuery &m_general6;
};

} // namespace qalu::update
