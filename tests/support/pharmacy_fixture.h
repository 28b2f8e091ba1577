#pragma once

// The window's database components without the window (one update::UpdateSession: the connection, the
// five query objects on it, the price grid and category resolution), opened on a fresh test database (a
// SQLite file, or a schema on the PostgreSQL test server). A second, independent connection reads the tables
// back so checks never go through the code under test.
//
//   PharmacyFixture f;
//   if (!f.open(Backend::Sqlite)) return;   // skipped or failed already
//   f.resolver.FindOrAddCategory(...);  f.scalar("select count(*) from TreeView").toInt();

#include "core/failure.h"
#include "db/connection_string.h"
#include "intake/price_grid.h"
#include "support/testdb.h"
#include "update/update_session.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariant>
#include <QtTest/QTest>

#include <memory>
#include <optional>

namespace qalu::testdb {

// Guids of rows in db/sql/seed.sql that the tests name.
namespace seed {
inline const QString rootCategory = QStringLiteral("{6513270E-269E-4D37-B2A7-4DE452E6B438}");
inline const QString painkillers = QStringLiteral("{9531985D-5D9D-49F8-9818-E811892F902B}");
inline const QString amoxicillin = QStringLiteral("{90C192CF-D3AC-44AF-8F21-DDB66CAD4A26}");
inline const QString paracetamol = QStringLiteral("{0CB1E29C-658C-4A14-95E6-0AF593BD04CF}");
inline const QString ibuprofen = QStringLiteral("{8E81973E-0BEC-47B0-B898-D190F9EBDACC}");
inline const QString vitaminD = QStringLiteral("{92276658-1E27-41C0-8A6A-63EC24EDE6A4}");
} // namespace seed

enum class Backend { Sqlite, Postgres };

// Guid texts as compared by the tests: without braces, lower case (SQLite keeps the braced
// upper-case form, psqlODBC hands uuids over bare).
inline QString normalGuid(const QString &guid)
{
    QString g = guid.trimmed().toLower();
    if (g.startsWith(u'{') && g.endsWith(u'}'))
        g = g.mid(1, g.size() - 2);
    return g;
}

class PharmacyFixture
{
    // Declared first so they outlive the connection and the query objects below.
    Backend m_backend = Backend::Sqlite;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PgTestDatabase> m_pg;
    QString m_checkName;

public:
    PharmacyFixture()
        : ADOConnection1(session.ADOConnection1)
        , StringGrid1(session.StringGrid1)
        , qgeneral(session.qgeneral)
        , QGeneral6(session.QGeneral6)
        , QInsertN(session.QInsertN)
        , QFindNewCat(session.QFindNewCat)
        , QGeneral4(session.QGeneral4)
        , resolver(session.resolver)
    {
    }

    ~PharmacyFixture()
    {
        if (!m_checkName.isEmpty()) {
            QSqlDatabase::database(m_checkName, false).close();
            QSqlDatabase::removeDatabase(m_checkName);
        }
    }

    // Builds the database and opens both connections. Returns false after QSKIP/QFAIL has been
    // recorded (call with QVERIFY-free early return: `if (!f.open(b)) return;`).
    // memoryBacked puts a SQLite file on tmpfs where there is one, for tests that send thousands
    // of self-committing statements (each would otherwise wait for the disk).
    bool open(Backend backend, bool seed = true, bool memoryBacked = false)
    {
        m_backend = backend;
        if (backend == Backend::Sqlite) {
            if (memoryBacked && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
                m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/qalu-test-XXXXXX"));
            else
                m_dir = std::make_unique<QTemporaryDir>();
            connectionString = createSqliteDatabase(*m_dir, seed);
        } else {
            m_pg = std::make_unique<PgTestDatabase>(seed);
            if (!m_pg->isReady()) {
                if (odbcRequired())
                    QTest::qFail(qPrintable(m_pg->error()), __FILE__, __LINE__);
                else
                    QTest::qSkip(qPrintable(m_pg->error()), __FILE__, __LINE__);
                return false;
            }
            connectionString = m_pg->connectionString();
        }
        session.open(connectionString);

        const db::DriverTarget target = db::mapConnectionString(connectionString);
        m_checkName = uniqueName("qalu_check");
        QSqlDatabase check = QSqlDatabase::addDatabase(target.driver, m_checkName);
        check.setDatabaseName(target.databaseName);
        check.setConnectOptions(target.connectOptions);
        if (!check.open())
            throw Failure(QStringLiteral("check connection: ") + check.lastError().text());
        return true;
    }

    bool isPostgres() const { return m_backend == Backend::Postgres; }

    // Runs a statement on the checking connection; throws on error.
    void exec(const QString &sql) const
    {
        QSqlQuery q(QSqlDatabase::database(m_checkName));
        if (!q.exec(sql))
            throw Failure(sql + QStringLiteral(": ") + q.lastError().text());
    }

    // All rows of a select, each row's columns as variants.
    QList<QVariantList> rows(const QString &sql) const
    {
        QSqlQuery q(QSqlDatabase::database(m_checkName));
        q.setForwardOnly(true);
        if (!q.exec(sql))
            throw Failure(sql + QStringLiteral(": ") + q.lastError().text());
        QList<QVariantList> out;
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out << row;
        }
        return out;
    }

    // The first column of the first row, an invalid QVariant without a row.
    QVariant scalar(const QString &sql) const
    {
        const auto r = rows(sql);
        return r.isEmpty() ? QVariant() : r.first().value(0);
    }

    int count(const QString &table, const QString &where = QString()) const
    {
        return scalar(QStringLiteral("select count(*) from ") + table
            + (where.isEmpty() ? QString() : QStringLiteral(" where ") + where))
            .toInt();
    }

    QString connectionString;
    update::UpdateSession session;
    // The session's members under the names the tests use.
    db::TConnection &ADOConnection1;
    TStringGrid &StringGrid1;
    db::TQuery &qgeneral;
    db::TQuery &QGeneral6;
    db::TQuery &QInsertN;
    db::TQuery &QFindNewCat;
    db::TQuery &QGeneral4;
    update::CategoryResolver &resolver;
};

} // namespace qalu::testdb
