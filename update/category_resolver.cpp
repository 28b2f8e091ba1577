#include "update/category_resolver.h"

#include "core/trim.h"
#include "db/query.h"

namespace qalu::update {

CategoryResolver::CategoryResolver(
    db::TQuery &QFindNewCat, db::TQuery &QGeneral4, db::TQuery &QInsertN, db::TQuery &QGeneral6)
    : m_findNewCat(QFindNewCat)
    , m_general4(QGeneral4)
    , m_insertN(QInsertN)
    , m_general6(QGeneral6)
{
}

qint32 CategoryResolver::NextCategoryNumber()
{
    m_general4.clearText();
    m_general4.setText(QStringLiteral("select isnull(max(nnum),0) from Category00"));
    m_general4.Open();
    return m_general4.firstFieldAsInteger() + 1;
}

CategoryResolution CategoryResolver::Resolve(const QString &name)
{
    const QString categoryName = trimRule(name);

    m_findNewCat.clearText();
    m_findNewCat.setText(QStringLiteral("select guid from Category00 where CName= :a0"));
    m_findNewCat.setString(0, categoryName);
    m_findNewCat.Open();
    if (m_findNewCat.RecordCount() > 0)
        return { trimRule(m_findNewCat.firstFieldAsText()), false };

    const qint32 categoryNumber = NextCategoryNumber();

    m_insertN.clearText();
    m_insertN.setText(QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes)values(:a0,:a1,:a2,:a3)"));
    m_insertN.setString(0, categoryName);
    m_insertN.setInteger(1, categoryNumber);
    m_insertN.setInteger(2, categoryNumber);
    m_insertN.setString(3, QStringLiteral(""));
    m_insertN.ExecSQL();

    // The trailing blank is part of the statement as the database has always received it.
    m_general6.clearText();
    m_general6.setText(QStringLiteral("select max(nnum)+1 from Category00 "));
    m_general6.Open();
    const qint32 treeNumber = m_general6.firstFieldAsInteger();

    m_general6.clearText();
    m_general6.setText(QStringLiteral("select guid from Category00 where nnum=1"));
    m_general6.Open();
    const QString rootGuid = trimRule(m_general6.firstFieldAsText());

    m_general6.clearText();
    m_general6.setText(QStringLiteral("select guid,cname from Category00 where nnum= :a0"));
    m_general6.setInteger(0, categoryNumber);
    m_general6.Open();
    const QString newGuid = trimRule(m_general6.firstFieldAsText());

    m_general6.clearText();
    m_general6.setText(QStringLiteral("insert into TreeView(id,ParentId,num,parentGuid,CatGuidGuid,"
                                      "levl,TypeNode)values(:a0,:a1,:a2,:a3,:a4,:a5,:a6)"));
    m_general6.setByte(0, 1);
    m_general6.setByte(1, 0);
    m_general6.setInteger(2, treeNumber);
    m_general6.setString(3, rootGuid);
    m_general6.setString(4, newGuid);
    m_general6.setByte(5, 1);
    m_general6.setByte(6, 0);
    m_general6.ExecSQL();

    return { newGuid, true };
}

} // namespace qalu::update
