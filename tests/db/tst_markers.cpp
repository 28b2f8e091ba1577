// Statement texts as they reach the driver: markers become '?', quoted parts and "::" are kept
// as plain text, lines end in CR LF, and the parameter list follows the text. Also the SQLite
// isnull( rewrite, which must not touch quoted parts.

#include "core/failure.h"
#include "db/connection.h"
#include "db/query.h"

#include <QtTest>

using namespace qalu::db;

class TestMarkers : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("price update keeps both blanks before where")
            << QStringLiteral(
                   "update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4")
            << QStringLiteral("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?")
            << QStringList { QStringLiteral("a0"), QStringLiteral("a1"), QStringLiteral("a2"),
                   QStringLiteral("a3"), QStringLiteral("a4") };
        QTest::newRow("a10 after a1 is its own marker")
            << QStringLiteral("values(:a1,:a10)") << QStringLiteral("values(?,?)")
            << QStringList { QStringLiteral("a1"), QStringLiteral("a10") };
        QTest::newRow("colon inside apostrophes")
            << QStringLiteral("select ':a0' from t where x= :a1")
            << QStringLiteral("select ':a0' from t where x= ?") << QStringList { QStringLiteral("a1") };
        QTest::newRow("colon inside double quotes")
            << QStringLiteral("select \"a:b\" from t") << QStringLiteral("select \"a:b\" from t")
            << QStringList {};
        QTest::newRow("colon inside grave accents")
            << QStringLiteral("select `a:b`, :a0") << QStringLiteral("select `a:b`, ?")
            << QStringList { QStringLiteral("a0") };
        QTest::newRow("any quote closes a quoted part")
            << QStringLiteral("select 'it\" :a0") << QStringLiteral("select 'it\" ?")
            << QStringList { QStringLiteral("a0") };
        QTest::newRow("double colon becomes one plain colon")
            << QStringLiteral("select x::int, :a0") << QStringLiteral("select x:int, ?")
            << QStringList { QStringLiteral("a0") };
        QTest::newRow("triple colon: plain colon then marker")
            << QStringLiteral("a:::b c") << QStringLiteral("a:? c") << QStringList { QStringLiteral("b") };
        QTest::newRow("name ends at blank comma semicolon parenthesis CR LF")
            << QStringLiteral(":a :b,:c;:d):e\r:f\n:g") << QStringLiteral("? ?,?;?)?\r?\n?")
            << QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                   QStringLiteral("d"), QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g") };
        QTest::newRow("other characters belong to the name")
            << QStringLiteral("x= :a0+1 and y=:b=2") << QStringLiteral("x= ? and y=?")
            << QStringList { QStringLiteral("a0+1"), QStringLiteral("b=2") };
        QTest::newRow("quoted name loses its quotes, blank inside kept")
            << QStringLiteral("where n= :\"my name\" and m= :a0") << QStringLiteral("where n= ? and m= ?")
            << QStringList { QStringLiteral("my name"), QStringLiteral("a0") };
        QTest::newRow("repeated name gives two parameters")
            << QStringLiteral("where a= :x or b= :x") << QStringLiteral("where a= ? or b= ?")
            << QStringList { QStringLiteral("x"), QStringLiteral("x") };
        QTest::newRow("colon at the end is an unnamed marker")
            << QStringLiteral("select :") << QStringLiteral("select ?") << QStringList { QString() };
        QTest::newRow("no markers") << QStringLiteral("select max(nnum)+1 from Category00 ")
                                    << QStringLiteral("select max(nnum)+1 from Category00 ")
                                    << QStringList {};
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, command);
        QFETCH(QStringList, names);
        const ParsedText parsed = parseMarkers(text);
        QCOMPARE(parsed.commandText, command);
        QCOMPARE(parsed.names.size(), names.size());
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(parsed.names.at(i), names.at(i));
    }

    void linesEndInCrLf()
    {
        TConnection c;
        TQuery q(c, QStringLiteral("QGeneral6"));
        q.setText(QStringLiteral("select max(nnum)+1 from Category00 "));
        QCOMPARE(q.commandText(), QStringLiteral("select max(nnum)+1 from Category00 \r\n"));
        QVERIFY(q.parameters().isEmpty());

        const QString head = QStringLiteral(
            "insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,"
            "salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)");
        QString values = QStringLiteral("values(");
        QString marks = QStringLiteral("values(");
        for (int i = 0; i < 22; ++i) {
            values += QStringLiteral("%1:a%2").arg(i ? QStringLiteral(",") : QString()).arg(i);
            marks += QStringLiteral("%1?").arg(i ? QStringLiteral(",") : QString());
        }
        values += u')';
        marks += u')';
        q.clearText();
        q.appendLine(head);
        QVERIFY(q.parameters().isEmpty());
        q.appendLine(values);
        QCOMPARE(q.commandText(), head + QStringLiteral("\r\n") + marks + QStringLiteral("\r\n"));
        QCOMPARE(q.parameters().size(), 22);
        for (int i = 0; i < 22; ++i) {
            QCOMPARE(q.parameters().at(i).position, i);
            QCOMPARE(q.parameters().at(i).name, QStringLiteral("a%1").arg(i));
        }
        q.clearText();
        QVERIFY(q.commandText().isEmpty());
        QVERIFY(q.parameters().isEmpty());
        q.setText(QString());
        QCOMPARE(q.commandText(), QStringLiteral("\r\n"));
    }

    // What each kind of value does to an undescribed parameter's type and size.
    void valueKinds()
    {
        TConnection c;
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.setText(QStringLiteral("values(:a0,:a1,:a2,:a3,:a4,:a5)"));
        q.setDouble(0, 2.5);
        q.setInteger(1, -7);
        q.setByte(2, 1);
        q.setString(3, QStringLiteral("بنادول"));
        q.setString(4, QStringLiteral(""));
        q.setString(5, QStringLiteral("abcdef"));
        q.setString(5, QStringLiteral("ab"));
        const QList<Parameter> &p = q.parameters();
        QCOMPARE(p.at(0).dataType, int(adDouble));
        QCOMPARE(p.at(0).size, 0);
        QCOMPARE(p.at(1).dataType, int(adInteger));
        QCOMPARE(p.at(2).dataType, int(adSmallInt));
        QCOMPARE(p.at(2).value.typeId(), int(QMetaType::Int));
        QCOMPARE(p.at(2).value.toInt(), 1);
        QCOMPARE(p.at(3).dataType, int(adVarChar));
        QCOMPARE(p.at(3).size, 6);
        QCOMPARE(p.at(4).size, -1);
        QCOMPARE(p.at(5).size, 6); // a size never shrinks
        QVERIFY(!p.at(4).value.toString().isNull());

        q.setString(4, QString());
        QCOMPARE(q.parameters().at(4).value.typeId(), int(QMetaType::QString));
        QVERIFY(!q.parameters().at(4).value.toString().isNull());

        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.setDouble(6, 1.0));
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.setInteger(-1, 1));
        // A new text starts a new, unbound list.
        q.setText(QStringLiteral("where x= :a0"));
        QCOMPARE(q.parameters().size(), 1);
        QCOMPARE(q.parameters().at(0).dataType, int(adEmpty));
        QVERIFY(!q.parameters().at(0).value.isValid());
    }

    void sqliteDialect_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("call") << QStringLiteral("select isnull(max(nnum),0) from Category00")
                              << QStringLiteral("select ifnull(max(nnum),0) from Category00");
        QTest::newRow("upper case, blank before parenthesis") << QStringLiteral(
            "select ISNULL (a,0), IsNull(b,1)") << QStringLiteral("select IFNULL (a,0), IFNULL(b,1)");
        QTest::newRow("inside apostrophes") << QStringLiteral("select 'isnull(x' || isnull(a,'')")
                                            << QStringLiteral("select 'isnull(x' || ifnull(a,'')");
        QTest::newRow("inside double quotes and grave accents") << QStringLiteral(
            "select \"isnull(\", `isnull(`") << QStringLiteral("select \"isnull(\", `isnull(`");
        QTest::newRow("part of a longer name") << QStringLiteral("select myisnull(a), isnullx(b)")
                                               << QStringLiteral("select myisnull(a), isnullx(b)");
        QTest::newRow("operator without call")
            << QStringLiteral("select a isnull from t") << QStringLiteral("select a isnull from t");
    }

    void sqliteDialect()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(qalu::db::sqliteDialect(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestMarkers)
#include "tst_markers.moc"
