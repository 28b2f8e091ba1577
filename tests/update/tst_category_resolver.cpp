// Category resolution on real databases: finding a category by name, creating it with the next
// number and its tree node under the root, and what it sends on which query object.

#include "core/trim.h"
#include "update/category_resolver.h"

#include "support/pharmacy_fixture.h"
#include "support/sqlite_trace.h"

#include <QtTest>

using namespace qalu;
using qalu::testdb::Backend;
using qalu::testdb::normalGuid;
using qalu::testdb::PharmacyFixture;

Q_DECLARE_METATYPE(qalu::testdb::Backend)

namespace {

const QString &rootGuid = testdb::seed::rootCategory;
const QString &painkillersGuid = testdb::seed::painkillers;

void addBackendRows()
{
    QTest::addColumn<Backend>("backend");
    QTest::newRow("sqlite") << Backend::Sqlite;
    QTest::newRow("postgresql") << Backend::Postgres;
}

} // namespace

class TestCategoryResolver : public QObject
{
    Q_OBJECT
private slots:
    // An existing name costs the one lookup: nothing else is sent and nothing is written.
    void existingCategoryIsFoundByTrimmedName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("exact") << QStringLiteral("مسكنات");
        QTest::newRow("blanks and control characters around") << QStringLiteral(" \t\r\nمسكنات \x01\n");
    }
    void existingCategoryIsFoundByTrimmedName()
    {
        QFETCH(QString, name);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        const int categories = f.count(QStringLiteral("Category00"));
        const int nodes = f.count(QStringLiteral("TreeView"));

        QCOMPARE(f.resolver.FindOrAddCategory(name), painkillersGuid);

        QCOMPARE(f.QFindNewCat.text(), QStringLiteral("select guid from Category00 where CName= :a0\r\n"));
        QCOMPARE(f.QFindNewCat.parameters().size(), 1);
        QCOMPARE(f.QFindNewCat.parameters().at(0).value.toString(), QStringLiteral("مسكنات"));
        QVERIFY(f.QGeneral4.lines().isEmpty());
        QVERIFY(f.QInsertN.lines().isEmpty());
        QVERIFY(f.QGeneral6.lines().isEmpty());
        QVERIFY(f.qgeneral.lines().isEmpty());
        QCOMPARE(f.count(QStringLiteral("Category00")), categories);
        QCOMPARE(f.count(QStringLiteral("TreeView")), nodes);
    }

    // With categories 1..7 the new one is number 8, its node number 9 under the root's guid.
    void newCategoryGetsNextNumberAndTreeNode_data() { addBackendRows(); }
    void newCategoryGetsNextNumberAndTreeNode()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        f.exec(QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes) values('Eye drops',7,7,'')"));

        const QString guid = f.resolver.FindOrAddCategory(QStringLiteral("  أدوية البرد\t"));

        const auto cat = f.rows(
            QStringLiteral("select guid, Cnum, nNum, Notes from Category00 where CName = 'أدوية البرد'"));
        QCOMPARE(cat.size(), 1);
        QCOMPARE(normalGuid(guid), normalGuid(cat[0][0].toString()));
        QCOMPARE(guid, guid.trimmed());
        QCOMPARE(cat[0][1].toInt(), 8);
        QCOMPARE(cat[0][2].toInt(), 8);
        QCOMPARE(cat[0][3].toString(), QStringLiteral(""));
        QVERIFY(!cat[0][3].isNull());

        const auto node = f.rows(QStringLiteral(
            "select id, ParentId, num, parentGuid, CatGuidGuid, levl, TypeNode from TreeView where num = 9"));
        QCOMPARE(node.size(), 1);
        QCOMPARE(node[0][0].toInt(), 1);
        QCOMPARE(node[0][1].toInt(), 0);
        QCOMPARE(normalGuid(node[0][3].toString()), normalGuid(rootGuid));
        QCOMPARE(normalGuid(node[0][4].toString()), normalGuid(guid));
        QCOMPARE(node[0][5].toInt(), 1);
        QCOMPARE(node[0][6].toInt(), 0);

        // What went to the database, on which object: the number on QGeneral4, the insert on
        // QInsertN, the tree node last on QGeneral6; qgeneral is never touched.
        QCOMPARE(f.QGeneral4.text(), QStringLiteral("select isnull(max(nnum),0) from Category00\r\n"));
        QCOMPARE(f.QInsertN.commandText(),
            QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes)values(?,?,?,?)\r\n"));
        QCOMPARE(f.QGeneral6.commandText(),
            QStringLiteral("insert into TreeView(id,ParentId,num,parentGuid,CatGuidGuid,levl,"
                           "TypeNode)values(?,?,?,?,?,?,?)\r\n"));
        QCOMPARE(f.QGeneral6.parameters().size(), 7);
        QVERIFY(f.qgeneral.lines().isEmpty());
    }

    // The exact texts that reach the database, in order: the lookup alone for a known name, the
    // seven statements for a new one (the category number's isnull( is SQLite's ifnull( there).
    void sendsTheStatementSequence()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        testdb::SqliteTrace trace(f.ADOConnection1.database());
        f.resolver.FindOrAddCategory(QStringLiteral("مسكنات"));
        const QString lookup = QStringLiteral("select guid from Category00 where CName= ?\r\n");
        QCOMPARE(trace.statements, QStringList { lookup });

        trace.statements.clear();
        f.resolver.FindOrAddCategory(QStringLiteral("Inhalers"));
        const QStringList expected {
            lookup,
            QStringLiteral("select ifnull(max(nnum),0) from Category00\r\n"),
            QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes)values(?,?,?,?)\r\n"),
            QStringLiteral("select max(nnum)+1 from Category00 \r\n"),
            QStringLiteral("select guid from Category00 where nnum=1\r\n"),
            QStringLiteral("select guid,cname from Category00 where nnum= ?\r\n"),
            QStringLiteral("insert into TreeView(id,ParentId,num,parentGuid,CatGuidGuid,levl,TypeNode)"
                           "values(?,?,?,?,?,?,?)\r\n"),
        };
        QCOMPARE(trace.statements, expected);
    }

    // An empty Category00: number 1, its own root, node number 2.
    void firstCategoryIsItsOwnRoot_data() { addBackendRows(); }
    void firstCategoryIsItsOwnRoot()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend, false))
            return;
        QCOMPARE(f.resolver.NextCategoryNumber(), 1);

        const QString guid = f.resolver.FindOrAddCategory(QStringLiteral("General"));

        QCOMPARE(f.scalar(QStringLiteral("select nNum from Category00")).toInt(), 1);
        QCOMPARE(f.scalar(QStringLiteral("select Cnum from Category00")).toInt(), 1);
        const auto node = f.rows(QStringLiteral("select num, parentGuid, CatGuidGuid from TreeView"));
        QCOMPARE(node.size(), 1);
        QCOMPARE(node[0][0].toInt(), 2);
        QCOMPARE(normalGuid(node[0][1].toString()), normalGuid(guid));
        QCOMPARE(normalGuid(node[0][2].toString()), normalGuid(guid));
        QCOMPARE(f.resolver.NextCategoryNumber(), 2);
    }

    // No category numbered 1: the node's parent is the empty text, not NULL (on a database that
    // takes an empty text there).
    void withoutRootTheParentGuidIsEmpty()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        f.exec(QStringLiteral("delete from Category00 where nNum = 1"));

        const QString guid = f.resolver.FindOrAddCategory(QStringLiteral("Orphans"));

        const auto node
            = f.rows(QStringLiteral("select parentGuid, CatGuidGuid, num from TreeView where num = 8"));
        QCOMPARE(node.size(), 1);
        QVERIFY(!node[0][0].isNull());
        QCOMPARE(node[0][0].toString(), QStringLiteral(""));
        QCOMPARE(node[0][1].toString(), guid);
    }

    // A name is created once; later calls find it, the empty name included.
    void createdCategoryIsFoundLater_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("same name") << QStringLiteral("Vaccines") << QStringLiteral("Vaccines");
        QTest::newRow("blanks differ") << QStringLiteral("Vaccines") << QStringLiteral(" Vaccines\t");
        QTest::newRow("empty name") << QStringLiteral("") << QStringLiteral("");
        QTest::newRow("blank name is the empty name") << QStringLiteral("   ") << QStringLiteral("");
    }
    void createdCategoryIsFoundLater()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        const QString a = f.resolver.FindOrAddCategory(first);
        const int categories = f.count(QStringLiteral("Category00"));
        const int nodes = f.count(QStringLiteral("TreeView"));
        const QString b = f.resolver.FindOrAddCategory(second);
        QCOMPARE(b, a);
        QCOMPARE(f.count(QStringLiteral("Category00")), categories);
        QCOMPARE(f.count(QStringLiteral("TreeView")), nodes);
        QCOMPARE(
            f.count(QStringLiteral("Category00"), QStringLiteral("CName = '%1'").arg(trimRule(first))), 1);
    }

    // A failing statement is not caught here. A failure after the category insert leaves the
    // category without its node, and later calls find the category.
    void failureAfterInsertLeavesCategoryWithoutNode_data() { addBackendRows(); }
    void failureAfterInsertLeavesCategoryWithoutNode()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        f.exec(QStringLiteral("drop table TreeView"));
        if (f.isPostgres())
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("treeview.*does not exist")));

        QVERIFY_THROWS_EXCEPTION(Failure, f.resolver.FindOrAddCategory(QStringLiteral("Syrups")));

        QCOMPARE(f.count(QStringLiteral("Category00"), QStringLiteral("CName = 'Syrups'")), 1);
        const QString guid = f.resolver.FindOrAddCategory(QStringLiteral("Syrups"));
        QCOMPARE(normalGuid(guid),
            normalGuid(
                f.scalar(QStringLiteral("select guid from Category00 where CName = 'Syrups'")).toString()));
    }

    void lookupFailurePassesToCaller()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        f.exec(QStringLiteral("drop table Category00"));
        QVERIFY_THROWS_EXCEPTION(Failure, f.resolver.FindOrAddCategory(QStringLiteral("x")));
        QVERIFY(f.QGeneral4.lines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCategoryResolver)
#include "tst_category_resolver.moc"
