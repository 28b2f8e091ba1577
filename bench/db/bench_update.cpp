// Ten thousand single-row price updates through a query object (empty the text, set it, bind
// five values, execute: what the update run does per row) against the same statements through
// the sqlite3 C API (prepare, bind, step, finalize, each autocommitted), on an in-memory database
// and on a database file. Both sides run in alternating slices so that drift in the machine's
// load or the disk's speed hits them alike. Prints both times and their ratio.

#include "db/connection.h"
#include "db/query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <vector>

using namespace qalu::db;

namespace {

constexpr int statements = 10000;
constexpr int slices = 20;
constexpr int medicines = 200;

QString guidOf(int i)
{
    return QStringLiteral("{%1-0000-4000-8000-%2}")
        .arg(i, 8, 16, QLatin1Char('0'))
        .arg(i * 7919, 12, 16, QLatin1Char('0'))
        .toUpper();
}

QStringList schemaStatements()
{
    QFile f(QStringLiteral(QALU_SOURCE_DIR "/db/sql/sqlite-schema.sql"));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read the schema");
    QStringList lines;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        if (!line.trimmed().startsWith(QLatin1StringView("--")))
            lines << line;
    }
    QStringList out;
    for (const QString &s : lines.join(u'\n').split(u';')) {
        if (!s.trimmed().isEmpty())
            out << s.trimmed();
    }
    return out;
}

void check(int rc, sqlite3 *db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

void seedC(sqlite3 *db)
{
    for (const QString &s : schemaStatements())
        check(sqlite3_exec(db, s.toUtf8().constData(), nullptr, nullptr, nullptr), db);
    check(sqlite3_exec(db, "begin", nullptr, nullptr, nullptr), db);
    for (int i = 0; i < medicines; ++i) {
        const QByteArray sql
            = QStringLiteral("insert into mat00(guid, MatNum, MatName) values('%1', %2, 'm%2')")
                  .arg(guidOf(i))
                  .arg(i)
                  .toUtf8();
        check(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), db);
    }
    check(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), db);
}

void seedQuery(TQuery &q)
{
    for (const QString &s : schemaStatements()) {
        q.clearText();
        q.setText(s);
        q.ExecSQL();
    }
    q.clearText();
    q.setText(QStringLiteral("begin"));
    q.ExecSQL();
    for (int i = 0; i < medicines; ++i) {
        q.clearText();
        q.setText(QStringLiteral("insert into mat00(guid, MatNum, MatName) values(:a0, :a1, :a2)"));
        q.setString(0, guidOf(i));
        q.setInteger(1, i);
        q.setString(2, QStringLiteral("m%1").arg(i));
        q.ExecSQL();
    }
    q.clearText();
    q.setText(QStringLiteral("commit"));
    q.ExecSQL();
}

const QString updateLine
    = QStringLiteral("update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4");
const char updateC[] = "update mat00 set salp= ?,price1= ?,salp2= ?,price2= ?  where guid= ?\r\n";

struct Figures
{
    qint64 query = 0;
    qint64 c = 0;
};

Figures run(TQuery &q, sqlite3 *db)
{
    QList<QString> guids;
    std::vector<QByteArray> guidsC;
    for (int i = 0; i < medicines; ++i) {
        guids << guidOf(i);
        guidsC.push_back(guidOf(i).toUtf8());
    }
    Figures f;
    QElapsedTimer t;
    const int perSlice = statements / slices;
    for (int s = 0; s < slices; ++s) {
        t.start();
        for (int k = 0; k < perSlice; ++k) {
            const int i = s * perSlice + k;
            q.clearText();
            q.setText(updateLine);
            q.setDouble(0, 10.0 + i * 0.25);
            q.setDouble(1, 8.0 + i * 0.25);
            q.setByte(2, 0);
            q.setByte(3, 0);
            q.setString(4, guids.at(i % medicines));
            if (q.ExecSQL() != 1)
                qFatal("query object updated no row");
        }
        f.query += t.nsecsElapsed();

        t.start();
        for (int k = 0; k < perSlice; ++k) {
            const int i = s * perSlice + k;
            sqlite3_stmt *st = nullptr;
            check(sqlite3_prepare_v2(db, updateC, -1, &st, nullptr), db);
            sqlite3_bind_double(st, 1, 10.0 + i * 0.25);
            sqlite3_bind_double(st, 2, 8.0 + i * 0.25);
            sqlite3_bind_int(st, 3, 0);
            sqlite3_bind_int(st, 4, 0);
            const QByteArray &g = guidsC[size_t(i % medicines)];
            sqlite3_bind_text(st, 5, g.constData(), int(g.size()), SQLITE_STATIC);
            check(sqlite3_step(st), db);
            sqlite3_finalize(st);
            if (sqlite3_changes(db) != 1)
                qFatal("C API updated no row");
        }
        f.c += t.nsecsElapsed();
    }
    return f;
}

void report(const char *what, const Figures &f, double target)
{
    const double ratio = double(f.query) / double(f.c);
    std::printf("%-10s query object %9.1f ms   sqlite3 C API %9.1f ms   ratio %.2fx (target <= %.1fx)%s\n",
        what, double(f.query) / 1e6, double(f.c) / 1e6, ratio, target,
        ratio <= target ? "" : "  OVER TARGET");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("%d single-row updates each, SQLite %s\n", statements, sqlite3_libversion());

    {
        TConnection conn;
        conn.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=:memory:"));
        TQuery q(conn, QStringLiteral("qgeneral"), 50);
        seedQuery(q);
        sqlite3 *db = nullptr;
        check(sqlite3_open(":memory:", &db), db);
        seedC(db);
        report("in-memory", run(q, db), 1.5);
        sqlite3_close(db);
    }
    {
        QTemporaryDir dir;
        const QString qFile = dir.filePath(QStringLiteral("query.db"));
        const QString cFile = dir.filePath(QStringLiteral("capi.db"));
        for (const QString &file : { qFile, cFile }) {
            sqlite3 *db = nullptr;
            check(sqlite3_open(file.toUtf8().constData(), &db), db);
            seedC(db);
            sqlite3_close(db);
        }
        TConnection conn;
        conn.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + qFile);
        TQuery q(conn, QStringLiteral("qgeneral"), 50);
        sqlite3 *db = nullptr;
        check(sqlite3_open(cFile.toUtf8().constData(), &db), db);
        sqlite3_busy_timeout(db, 50000);
        report("file", run(q, db), 1.1);
        sqlite3_close(db);
    }
    return 0;
}
