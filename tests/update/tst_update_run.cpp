// The price update run on real databases, with the grid filled by the test instead of a workbook
// (the workbook path end to end is exercised through qalu-cli in tests/tools): which rows are
// applied, with which values, what a failing row leaves behind, and the one outcome of a run.

#include "update/report_json.h"
#include "update/update_run.h"

#include "core/trim.h"
#include "support/pharmacy_fixture.h"
#include "support/sqlite_trace.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace qalu;
using qalu::testdb::Backend;
using qalu::testdb::normalGuid;
using qalu::testdb::PharmacyFixture;
using qalu::update::UpdateOutcome;
using qalu::update::UpdateRun;

Q_DECLARE_METATYPE(qalu::testdb::Backend)

namespace {

const QString &amoxicillin = testdb::seed::amoxicillin;
const QString &paracetamol = testdb::seed::paracetamol;
const QString &ibuprofen = testdb::seed::ibuprofen;
const QString &vitaminD = testdb::seed::vitaminD;
const QString &painkillersGuid = testdb::seed::painkillers;

using Row = QStringList;

// A sheet as the reader would leave it in the grid: row 0 the header.
struct Sheet
{
    QList<Row> rows;
    int colCount = 11;
};

Row header()
{
    return { QStringLiteral("guid"), QStringLiteral("salp"), QStringLiteral("price1"),
        QStringLiteral("salp2"), QStringLiteral("price2"), QStringLiteral("name"), QStringLiteral("-"),
        QStringLiteral("category"), QStringLiteral("cop"), QStringLiteral("pharm form"),
        QStringLiteral("form") };
}

Row updateRow(const QString &guid, const QString &salp, const QString &price1,
    const QString &salp2 = QStringLiteral("0"), const QString &price2 = QStringLiteral("0"))
{
    return { guid, salp, price1, salp2, price2 };
}

Row insertRow(const QString &salp, const QString &price1, const QString &name, const QString &category,
    const QString &cop = QString(), const QString &pharm = QString(), const QString &form = QString())
{
    return { QString(), salp, price1, QStringLiteral("99"), QStringLiteral("98"), name,
        QStringLiteral("ignored"), category, cop, pharm, form };
}

// The window's wiring of the run, with the reader replaced by a fill from `sheet`.
struct RunHarness
{
    explicit RunHarness(PharmacyFixture &fixture)
        : f(fixture)
    {
    }

    PharmacyFixture &f;
    Sheet sheet;
    int resolutions = 0;
    update::UpdateReport report;
    std::function<void(const TStringGrid &)> afterRead;
    QChar separator { u'.' };

    UpdateOutcome run()
    {
        update::UpdateRun::Steps steps = f.session.steps(QStringLiteral("list.xlsx"), separator);
        steps.ClearGrid = [this] { ClearGrid(); };
        steps.LoadWorkbookToGrid = [this] { load(); };
        steps.FindOrAddCategory = [this, resolve = steps.FindOrAddCategory](const QString &name) {
            ++resolutions;
            return resolve(name);
        };
        steps.AfterRead = afterRead;
        report = f.session.run(QStringLiteral("list.xlsx"), separator, steps);
        return report.outcome;
    }

    void ClearGrid()
    {
        TStringGrid &g = f.StringGrid1;
        for (int r = 0; r < g.RowCount(); ++r)
            for (int c = 0; c < g.ColCount(); ++c)
                g.setCells(c, r, QByteArray());
    }

    void load()
    {
        TStringGrid &g = f.StringGrid1;
        g.setRowCount(int(sheet.rows.size()));
        g.setColCount(sheet.colCount);
        for (int r = 0; r < sheet.rows.size(); ++r)
            for (int c = 0; c < sheet.rows[r].size(); ++c)
                g.setCellText(c, r, sheet.rows[r][c]);
    }
};

void addBackendRows()
{
    QTest::addColumn<Backend>("backend");
    QTest::newRow("sqlite") << Backend::Sqlite;
    QTest::newRow("postgresql") << Backend::Postgres;
}

QString where(const QString &guid)
{
    return QStringLiteral("guid = '%1'").arg(guid);
}

} // namespace

class TestUpdateRun : public QObject
{
    Q_OBJECT
private slots:
    // Update rows and insert rows mixed; a new category shared by two rows is created once.
    void appliesUpdateAndInsertRows_data() { addBackendRows(); }
    void appliesUpdateAndInsertRows()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        const int medicines = f.count(QStringLiteral("mat00"));
        const int categories = f.count(QStringLiteral("Category00"));
        RunHarness h(f);
        h.sheet.rows = {
            header(),
            updateRow(QStringLiteral(" ") + amoxicillin + QStringLiteral("\t"), QStringLiteral("25.5"),
                QStringLiteral(" 19 "), QStringLiteral("2.5e1"), QStringLiteral("")),
            insertRow(QStringLiteral("30"), QStringLiteral("22.75"), QStringLiteral(" شراب كحة "),
                QStringLiteral("أدوية البرد"), QStringLiteral(" Tussin "), QStringLiteral("syrup\n"),
                QStringLiteral(" شراب")),
            updateRow(QStringLiteral("{00000000-0000-4000-8000-000000000000}"), QStringLiteral("1"),
                QStringLiteral("1")),
            insertRow(QStringLiteral(""), QStringLiteral("7"), QStringLiteral("Lozenges"),
                QStringLiteral("أدوية البرد ")),
            insertRow(QStringLiteral("12"), QStringLiteral("10"), QStringLiteral("Naproxen"),
                QStringLiteral("مسكنات")),
        };

        QCOMPARE(h.run(), UpdateOutcome::Completed);

        const auto amox = f.rows(
            QStringLiteral("select salp, price1, salp2, price2 from mat00 where ") + where(amoxicillin));
        QCOMPARE(amox.size(), 1);
        QCOMPARE(amox[0][0].toDouble(), 25.5);
        QCOMPARE(amox[0][1].toDouble(), 19.0);
        QCOMPARE(amox[0][2].toDouble(), 25.0);
        QCOMPARE(amox[0][3].toDouble(), 0.0);

        QCOMPARE(f.count(QStringLiteral("mat00")), medicines + 3);
        QCOMPARE(f.count(QStringLiteral("Category00")), categories + 1);
        QCOMPARE(h.resolutions, 3);

        const auto added = f.rows(QStringLiteral(
            "select MatNum, MatName, MatNameEng, MatNamecop, Price1, salp, price2, salp2, Fact2, price3,"
            " salp3, Fact3, CatGuid, unit1, unit2, unit3, MatN, FocN, ShapN, contn, dateupN, ShapPharmN"
            " from mat00 where MatNum > 222000 order by MatNum"));
        QCOMPARE(added.size(), 3);
        const QVariantList &syrup = added[0];
        QCOMPARE(syrup[0].toInt(), 222002);
        QCOMPARE(syrup[1].toString(), QStringLiteral("شراب كحة"));
        QCOMPARE(syrup[2].toString(), QStringLiteral("شراب كحة"));
        QCOMPARE(syrup[3].toString(), QStringLiteral("Tussin"));
        QCOMPARE(syrup[4].toDouble(), 22.75);
        QCOMPARE(syrup[5].toDouble(), 30.0);
        for (int i = 6; i <= 11; ++i)
            QCOMPARE(syrup[i].toDouble(), 0.0);
        const QString coldGuid
            = f.scalar(QStringLiteral("select guid from Category00 where CName = 'أدوية البرد'")).toString();
        QCOMPARE(normalGuid(syrup[12].toString()), normalGuid(coldGuid));
        QCOMPARE(syrup[13].toString(), QStringLiteral("وحدة1"));
        QCOMPARE(syrup[14].toString(), QStringLiteral("وحدة2"));
        QCOMPARE(syrup[15].toString(), QStringLiteral("وحدة3"));
        for (int i : { 16, 17, 19 }) {
            QVERIFY(!syrup[i].isNull());
            QCOMPARE(syrup[i].toString(), QStringLiteral(""));
        }
        QCOMPARE(syrup[18].toString(), QStringLiteral("شراب"));
        QCOMPARE(syrup[20].toString(), QStringLiteral("1-1-1800"));
        QCOMPARE(syrup[21].toString(), QStringLiteral("syrup"));

        const QVariantList &lozenges = added[1];
        QCOMPARE(lozenges[0].toInt(), 222004);
        QCOMPARE(lozenges[5].toDouble(), 0.0); // empty price cell
        QCOMPARE(normalGuid(lozenges[12].toString()), normalGuid(coldGuid));
        QCOMPARE(normalGuid(added[2][12].toString()), normalGuid(painkillersGuid));
    }

    // The statements as sent on qgeneral: texts, markers, kinds of the bound values.
    void statementsOnQgeneral()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        RunHarness h(f);
        h.sheet.rows = { header(), updateRow(amoxicillin, QStringLiteral("1.5"), QString()) };
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(f.qgeneral.text(),
            QStringLiteral(
                "update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4\r\n"));
        QCOMPARE(f.qgeneral.commandText(),
            QStringLiteral("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?\r\n"));
        const auto &up = f.qgeneral.parameters();
        QCOMPARE(up.size(), 5);
        QCOMPARE(up[0].value.typeId(), QMetaType::Double);
        QCOMPARE(up[0].value.toDouble(), 1.5);
        QCOMPARE(up[0].dataType, 5);
        QCOMPARE(up[1].dataType, 2); // empty cell: the byte 0
        QCOMPARE(up[1].value.toInt(), 0);
        QCOMPARE(up[4].dataType, 200);
        QCOMPARE(up[4].value.toString(), amoxicillin);

        h.sheet.rows = { header(),
            insertRow(
                QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("X"), QStringLiteral("مسكنات")) };
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(f.qgeneral.lines(),
            QStringList({ QStringLiteral("insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,"
                                         "price2,salp2,Fact2,price3,salp3,Fact3,CatGuid,unit1,unit2,unit3,"
                                         "MatN,FocN,ShapN,contn,dateupN,ShapPharmN)"),
                QStringLiteral("values(:a0,:a1,:a2,:a3,:a4,:a5,:a6,:a7,:a8,:a9,:a10,:a11,:a12,"
                               ":a13,:a14,:a15,:a16,:a17,:a18,:a19,:a20,:a21)") }));
        const auto &ins = f.qgeneral.parameters();
        QCOMPARE(ins.size(), 22);
        QCOMPARE(ins[0].dataType, 3);
        QCOMPARE(ins[0].value.toInt(), 222001);
        for (int i = 6; i <= 11; ++i)
            QCOMPARE(ins[i].dataType, 2);
        QCOMPARE(ins[12].value.toString(), painkillersGuid);
        QCOMPARE(ins[10].name, QStringLiteral("a10"));
    }

    // What reaches the database for one update row and one insert row, values included: prices
    // as doubles, empty price cells and the fixed zeros as the integer 0, empty texts as ''.
    void sendsOneStatementPerRow()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        RunHarness h(f);
        h.sheet.rows = { header(),
            updateRow(QStringLiteral(" ") + amoxicillin, QStringLiteral("1.5"), QString(),
                QStringLiteral("2e1"), QStringLiteral("-0.25")),
            insertRow(QString(), QStringLiteral("3"), QStringLiteral(" Nasal spray "),
                QStringLiteral("مسكنات"), QString(), QStringLiteral("spray")) };
        testdb::SqliteTrace trace(f.ADOConnection1.database());
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(trace.statements.size(), 3);
        QCOMPARE(trace.statements[0],
            QStringLiteral("update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?\r\n"));
        QCOMPARE(trace.expanded[0],
            QStringLiteral("update mat00 set salp= 1.5,price1= 0,salp2= 20.0,price2= -0.25  where guid= '")
                + amoxicillin + QStringLiteral("'\r\n"));
        QCOMPARE(trace.statements[1], QStringLiteral("select guid from Category00 where CName= ?\r\n"));
        QCOMPARE(trace.expanded[2],
            QStringLiteral("insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,"
                           "Fact2,price3,salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,"
                           "ShapPharmN)\r\nvalues(222002,'Nasal spray','Nasal spray','',3.0,0,0,0,0,0,0,0,'")
                + painkillersGuid
                + QStringLiteral("','وحدة1','وحدة2','وحدة3','','','','','1-1-1800','spray')\r\n"));
    }

    // The first failing row ends the walk: rows before it stay applied, it and the rows after it
    // change nothing, and only the failure outcome is reported.
    void failingRowStopsTheWalk_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<Row>("bad");
        QTest::addColumn<QString>("separator");
        const Row badUpdate = updateRow(paracetamol, QStringLiteral("1,234.5"), QStringLiteral("1"));
        const Row tabUpdate = updateRow(paracetamol, QStringLiteral("5"), QStringLiteral("12.5\t"));
        const Row badInsert = insertRow(
            QStringLiteral("-"), QStringLiteral("1"), QStringLiteral("Bad"), QStringLiteral("New category"));
        const Row rangeInsert = insertRow(
            QStringLiteral("1"), QStringLiteral("1E400"), QStringLiteral("Bad"), QStringLiteral("مسكنات"));
        const Row dotWithComma = updateRow(paracetamol, QStringLiteral("12.5"), QStringLiteral("1"));
        QTest::newRow("sqlite: thousands separator") << Backend::Sqlite << badUpdate << ".";
        QTest::newRow("sqlite: trailing tab") << Backend::Sqlite << tabUpdate << ".";
        QTest::newRow("sqlite: sign alone in an insert") << Backend::Sqlite << badInsert << ".";
        QTest::newRow("sqlite: beyond double range") << Backend::Sqlite << rangeInsert << ".";
        QTest::newRow("sqlite: dot under comma separator") << Backend::Sqlite << dotWithComma << ",";
        QTest::newRow("postgresql: thousands separator") << Backend::Postgres << badUpdate << ".";
        QTest::newRow("postgresql: not a guid")
            << Backend::Postgres
            << updateRow(QStringLiteral("not-a-guid"), QStringLiteral("1"), QStringLiteral("1")) << ".";
    }
    void failingRowStopsTheWalk()
    {
        QFETCH(Backend, backend);
        QFETCH(Row, bad);
        QFETCH(QString, separator);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        const int medicines = f.count(QStringLiteral("mat00"));
        const int categories = f.count(QStringLiteral("Category00"));
        RunHarness h(f);
        h.separator = separator.at(0);
        h.sheet.rows = { header(), updateRow(amoxicillin, QStringLiteral("50"), QStringLiteral("40")),
            insertRow(
                QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("Before"), QStringLiteral("مسكنات")),
            bad, updateRow(ibuprofen, QStringLiteral("77"), QStringLiteral("66")),
            insertRow(QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("After"),
                QStringLiteral("Later category")) };

        if (backend == Backend::Postgres && bad.first() == QStringLiteral("not-a-guid"))
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("invalid input syntax for type uuid")));
        QCOMPARE(h.run(), UpdateOutcome::RowFailed);

        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 50.0);
        QCOMPARE(f.count(QStringLiteral("mat00"), QStringLiteral("MatName = 'Before'")), 1);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(paracetamol)).toDouble(), 12.0);
        QCOMPARE(f.count(QStringLiteral("mat00"), QStringLiteral("MatName = 'Bad'")), 0);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(ibuprofen)).toDouble(), 17.5);
        QCOMPARE(f.count(QStringLiteral("mat00")), medicines + 1);
        QCOMPARE(f.count(QStringLiteral("Category00"), QStringLiteral("CName = 'Later category'")), 0);
        // A bad price in an insert row stops it before its category is resolved.
        QCOMPARE(f.count(QStringLiteral("Category00")), categories);
    }

    // Failures of resolution and of the statement itself end the run the same way; a category
    // created for the failing row stays.
    void resolutionOrStatementFailure_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::newRow("tree table missing") << QStringLiteral("drop table TreeView");
        QTest::newRow("insert refused")
            << QStringLiteral("create trigger refuse before insert on mat00 when new.MatName = 'Bad' "
                              "begin select raise(abort, 'refused'); end");
    }
    void resolutionOrStatementFailure()
    {
        QFETCH(QString, breakage);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        f.exec(breakage);
        RunHarness h(f);
        h.sheet.rows = { header(), updateRow(amoxicillin, QStringLiteral("50"), QStringLiteral("40")),
            insertRow(
                QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("Bad"), QStringLiteral("Brand new")),
            updateRow(ibuprofen, QStringLiteral("77"), QStringLiteral("66")) };
        QCOMPARE(h.run(), UpdateOutcome::RowFailed);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 50.0);
        QCOMPARE(f.count(QStringLiteral("mat00"), QStringLiteral("MatName = 'Bad'")), 0);
        QCOMPARE(f.count(QStringLiteral("Category00"), QStringLiteral("CName = 'Brand new'")), 1);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(ibuprofen)).toDouble(), 17.5);
    }

    // A reading failure: nothing applied, nothing resolved.
    void readFailureTouchesNothing_data()
    {
        QTest::addColumn<bool>("inClear");
        QTest::newRow("clearing raises") << true;
        QTest::newRow("reading raises") << false;
    }
    void readFailureTouchesNothing()
    {
        QFETCH(bool, inClear);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        int loads = 0;
        UpdateRun run(f.StringGrid1, f.qgeneral,
            { [&] {
                 if (inClear)
                     throw std::bad_alloc();
             },
                [&] {
                    ++loads;
                    f.StringGrid1.setRowCount(3);
                    f.StringGrid1.setCellText(0, 1, amoxicillin);
                    f.StringGrid1.setCellText(1, 1, QStringLiteral("1"));
                    throw Failure(QStringLiteral("unreadable"));
                },
                [&](const QString &) -> update::CategoryResolution {
                    throw Failure(QStringLiteral("not reached"));
                },
                {}, {} },
            QChar(u'.'));
        QCOMPARE(run.run().outcome, UpdateOutcome::ReadFailed);
        QCOMPARE(loads, inClear ? 0 : 1);
        QVERIFY(f.qgeneral.lines().isEmpty());
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 24.0);
    }

    // Blank and odd first cells, missing columns, the header alone, the row number in MatNum.
    void rowShapes()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        RunHarness h(f);

        h.sheet.rows = { header() };
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QVERIFY(f.qgeneral.lines().isEmpty());

        // A first cell of blanks is an update row with the empty guid: it matches nothing.
        const int medicines = f.count(QStringLiteral("mat00"));
        h.sheet.rows
            = { header(), updateRow(QStringLiteral("   "), QStringLiteral("1"), QStringLiteral("1")) };
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(f.count(QStringLiteral("mat00")), medicines);
        QCOMPARE(f.qgeneral.parameters().at(4).value.toString(), QStringLiteral(""));

        // Three columns only: the insert gets empty texts and the empty category name.
        h.sheet.colCount = 3;
        h.sheet.rows = { { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") },
            { QString(), QStringLiteral("4"), QStringLiteral("3") } };
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        const auto row
            = f.rows(QStringLiteral("select MatName, MatNamecop, ShapN, ShapPharmN, salp, Price1, CatGuid"
                                    " from mat00 where MatNum = 222001"));
        QCOMPARE(row.size(), 1);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(row[0][i].toString(), QStringLiteral(""));
        QCOMPARE(row[0][4].toDouble(), 4.0);
        QCOMPARE(row[0][5].toDouble(), 3.0);
        QCOMPARE(row[0][6].toString(),
            f.scalar(QStringLiteral("select guid from Category00 where CName = ''")).toString());

        // Grid row 5 is MatNum 222005 on every run; a second run inserts it again and writes the
        // update rows again.
        h.sheet.colCount = 11;
        h.sheet.rows = { header() };
        for (int r = 1; r <= 4; ++r)
            h.sheet.rows << updateRow(vitaminD, QString::number(r), QStringLiteral("1"));
        h.sheet.rows << insertRow(
            QStringLiteral("5"), QStringLiteral("5"), QStringLiteral("Fifth"), QStringLiteral("مسكنات"));
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        f.exec(QStringLiteral("update mat00 set salp = 0 where ") + where(vitaminD));
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(
            f.count(QStringLiteral("mat00"), QStringLiteral("MatName = 'Fifth' and MatNum = 222005")), 2);
        QCOMPARE(f.scalar(QStringLiteral("select salp from mat00 where ") + where(vitaminD)).toDouble(), 4.0);
    }

    // The run's report: what each row did, where and why the run stopped, what the cap cut off.
    // Only the keys the expected document names are compared; a stop's reason is compared as a
    // part of the actual one (database texts carry driver prefixes).
    void reportsEveryRow_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<QList<Row>>("rows");
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("reportedRows");
        const QString amox = amoxicillin;
        QTest::newRow("applied update, inserts with new and existing category")
            << Backend::Sqlite
            << QList<Row> { header(),
                   updateRow(
                       QStringLiteral(" ") + amox, QStringLiteral("25.5"), QString(), QStringLiteral("2e1")),
                   insertRow(QStringLiteral("30"), QStringLiteral("22.75"), QStringLiteral(" Syrup "),
                       QStringLiteral("Colds ")),
                   insertRow(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("Drops"),
                       QStringLiteral("Colds")),
                   insertRow(QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("Naproxen"),
                       QStringLiteral("مسكنات")) }
            << QString()
            << (R"({"workbook": "list.xlsx", "sheet_rows": 5, "outcome": "completed", "read_failure": null,
                   "stop": null, "dropped": null, "new_categories": ["Colds"], "rows": [
                   {"sheet_row": 2, "kind": "update", "guid": ")"
                   + amox.toUtf8() + R"(", "status": "applied", "new": [25.5, 0, 20, 0]},
                   {"sheet_row": 3, "kind": "insert", "mat_num": 222002, "name": "Syrup", "category": "Colds", "category_status": "new", "status": "applied", "new": [30, 22.75]},
                   {"sheet_row": 4, "kind": "insert", "mat_num": 222003, "name": "Drops", "category": "Colds", "category_status": "exists", "status": "applied", "new": [1, 2]},
                   {"sheet_row": 5, "kind": "insert", "mat_num": 222004, "name": "Naproxen", "category": "مسكنات", "category_status": "exists", "status": "applied", "new": [3, 4]}]})")
            << 4;
        const QList<Row> failing { header(), updateRow(amox, QStringLiteral("1"), QStringLiteral("2")),
            updateRow(paracetamol, QStringLiteral("5"), QStringLiteral("1,5")),
            insertRow(
                QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("Later"), QStringLiteral("New")) };
        QTest::newRow("failing cell, rows after it not reached")
            << Backend::Sqlite << failing << QString()
            << QByteArray(R"({"outcome": "row-failed", "new_categories": [],
                   "stop": {"sheet_row": 3, "cell": "C3", "text": "1,5", "reason": "character ',' at position 2 is not allowed there"},
                   "rows": [{"sheet_row": 2, "status": "applied"},
                   {"sheet_row": 3, "kind": "update", "status": "failed", "new": null},
                   {"sheet_row": 4, "kind": "insert", "mat_num": 222003, "name": "Later", "category": "New", "category_status": null, "status": "not-reached", "new": null}]})")
            << 3;
        QTest::newRow("insert price cell: C before B")
            << Backend::Sqlite
            << QList<Row> { header(),
                   insertRow(QStringLiteral("x"), QStringLiteral("1e5x"), QStringLiteral("A"),
                       QStringLiteral("B")) }
            << QString()
            << QByteArray(
                   R"({"stop": {"sheet_row": 2, "cell": "C2", "text": "1e5x", "reason": "character 'x' at position 4"},
                   "rows": [{"status": "failed", "category_status": null, "new": null}]})")
            << 1;
        QTest::newRow("database refusal: no cell, the database's text")
            << Backend::Sqlite
            << QList<Row> { header(),
                   insertRow(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("Bad"),
                       QStringLiteral("مسكنات")) }
            << QStringLiteral("create trigger refuse before insert on mat00 begin select raise(abort, "
                              "'no new medicines'); end")
            << QByteArray(
                   R"({"stop": {"sheet_row": 2, "cell": null, "text": "", "reason": "no new medicines"},
                   "rows": [{"status": "failed", "category_status": "exists", "new": [1, 2]}]})")
            << 1;
        QTest::newRow("postgresql: the database's text")
            << Backend::Postgres
            << QList<Row> { header(),
                   updateRow(QStringLiteral("not-a-guid"), QStringLiteral("1"), QStringLiteral("1")) }
            << QString()
            << QByteArray(
                   R"({"stop": {"sheet_row": 2, "cell": null, "text": "", "reason": "invalid input syntax for type uuid"},
                   "rows": [{"kind": "update", "guid": "not-a-guid", "status": "failed", "new": [1, 1, 0, 0]}]})")
            << 1;
        QList<Row> long_ { header() };
        for (int r = 1; r < 1502; ++r)
            long_ << updateRow(
                vitaminD, QStringLiteral("1"), r >= 1500 ? QStringLiteral("bad") : QStringLiteral("1"));
        QTest::newRow("rows after the cap dropped")
            << Backend::Sqlite << long_ << QString()
            << QByteArray(
                   R"({"sheet_rows": 1502, "outcome": "completed", "dropped": {"first": 1501, "last": 1502}})")
            << 1499;
    }
    void reportsEveryRow()
    {
        QFETCH(Backend, backend);
        QFETCH(QList<Row>, rows);
        QFETCH(QString, breakage);
        QFETCH(QByteArray, expected);
        QFETCH(int, reportedRows);
        PharmacyFixture f;
        if (!f.open(backend, true, rows.size() > 100))
            return;
        if (!breakage.isEmpty())
            f.exec(breakage);
        RunHarness h(f);
        h.sheet.rows = rows;
        h.run();
        const QJsonObject actual = update::reportToJson(h.report);
        QJsonParseError error;
        const QJsonObject want = QJsonDocument::fromJson(expected, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        QCOMPARE(actual.value(QStringLiteral("rows")).toArray().size(), reportedRows);
        // Every key the expected object names, recursively; arrays element by element.
        std::function<void(const QJsonValue &, const QJsonValue &, const QString &)> match
            = [&](const QJsonValue &a, const QJsonValue &w, const QString &at) {
                  if (w.isObject()) {
                      QVERIFY2(a.isObject(), qPrintable(at));
                      const QJsonObject wo = w.toObject();
                      for (auto it = wo.begin(); it != wo.end(); ++it)
                          match(a.toObject().value(it.key()), it.value(), at + u'.' + it.key());
                  } else if (w.isArray() && at.endsWith(QStringLiteral(".rows"))) {
                      for (qsizetype i = 0; i < w.toArray().size(); ++i)
                          match(a.toArray().at(i), w.toArray().at(i), at + QString::number(i));
                  } else if (at.endsWith(QStringLiteral(".reason"))) {
                      QVERIFY2(a.toString().contains(w.toString()), qPrintable(a.toString()));
                  } else {
                      QVERIFY2(a == w,
                          qPrintable(at + QStringLiteral(": ")
                              + QString::fromUtf8(QJsonDocument(QJsonObject { { QStringLiteral("v"), a } })
                                                      .toJson(QJsonDocument::Compact))));
                  }
              };
        match(actual, want, QString());
    }

    // The after-read step runs once on the capped grid before any row statement; a failure in it
    // leaves the run as it would have been.
    void afterReadStep()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite, true, true))
            return;
        RunHarness h(f);
        h.sheet.rows = { header() };
        for (int r = 1; r < 1502; ++r)
            h.sheet.rows << updateRow(vitaminD, QString::number(r), QStringLiteral("1"));
        QList<int> seen;
        h.afterRead = [&](const TStringGrid &grid) {
            seen << grid.RowCount();
            QVERIFY(f.qgeneral.lines().isEmpty());
            throw Failure(QStringLiteral("journal folder missing"));
        };
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("journal folder missing")));
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(seen, QList<int> { 1500 });
        QCOMPARE(f.scalar(QStringLiteral("select salp from mat00 where ") + where(vitaminD)).toInt(), 1499);
    }

    // At most grid rows 1..1499 are applied: the grid is cut to 1500 rows before the walk.
    void rowCap_data()
    {
        QTest::addColumn<int>("sheetRows");
        QTest::addColumn<int>("lastApplied");
        QTest::newRow("1500 rows") << 1500 << 1499;
        QTest::newRow("1501 rows") << 1501 << 1499;
        QTest::newRow("1600 rows") << 1600 << 1499;
    }
    void rowCap()
    {
        QFETCH(int, sheetRows);
        QFETCH(int, lastApplied);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite, true, true))
            return;
        RunHarness h(f);
        h.sheet.rows = { header() };
        // Every row writes its own grid row number; rows past the cap would fail.
        for (int r = 1; r < sheetRows; ++r)
            h.sheet.rows << updateRow(
                vitaminD, QString::number(r), r >= 1500 ? QStringLiteral("bad") : QStringLiteral("1"));
        QCOMPARE(h.run(), UpdateOutcome::Completed);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(vitaminD)).toInt(), lastApplied);
        QCOMPARE(f.StringGrid1.RowCount(), std::min(sheetRows, 1500));
    }
};

QTEST_GUILESS_MAIN(TestUpdateRun)
#include "tst_update_run.moc"
