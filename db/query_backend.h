#pragma once

// The driver side of a query object: one implementation per route to the database, chosen once
// per connection, so TQuery itself never asks which driver it runs on.

#include "core/failure.h"
#include "db/query.h"

#include <QList>
#include <QVariant>

#include <functional>
#include <memory>

class QSqlDatabase;

namespace qalu::db::detail {

using Row = QList<QVariant>;

class QueryBackend
{
public:
    virtual ~QueryBackend();
    // Runs the command text with the parameters bound in order. With rows, the first result's
    // rows land there. Returns the affected-row count. Throws qalu::Failure.
    virtual int run(const QString &commandText, const QList<Parameter> &params, QList<Row> *rows) = 0;
};

// Called with every command text and its parameters just before a query object runs it; for tests
// that must see the statements where the driver's own trace is out of reach (a SQLite compiled
// into Qt's plugin). Empty by default; set it while no statement runs.
using StatementListener = std::function<void(const QString &commandText, const QList<Parameter> &params)>;
void setStatementListener(StatementListener listener);
const StatementListener &statementListener();

// The route for the open connection's driver. commandTimeoutSeconds 0 keeps the driver's default.
std::unique_ptr<QueryBackend> makeBackend(const TConnection &connection, int commandTimeoutSeconds);
std::unique_ptr<QueryBackend> makeSqliteBackend(const QSqlDatabase &db, int commandTimeoutSeconds);
std::unique_ptr<QueryBackend> makeOdbcBackend(const QSqlDatabase &db, int commandTimeoutSeconds);

// A guid as the 38-character braced upper-case text, whatever form the driver hands over.
QVariant guidText(const QVariant &value);

// The QString inside a variant known to hold one, without a copy.
inline const QString &textOf(const QVariant &v)
{
    return *static_cast<const QString *>(v.constData());
}

Failure noValue(const Parameter &p);
Failure placeholderMismatch(qsizetype placeholders, qsizetype parameters);

} // namespace qalu::db::detail
