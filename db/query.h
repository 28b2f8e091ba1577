#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "db/statement_text.h"

#include <memory>

class QSqlQuery;

namespace qalu::db {

class TConnection;

// A guid text in the form the query objects hand guid columns back in: braced and upper case.
// A text that is no guid is returned as it is.
QString guidText(const QString &text);

// The four kinds of value the program binds.
enum class ValueKind { Double, Integer, Byte, Text };

// One positional parameter of a query object, as the marker parse left it.
struct Parameter
{
    QString name; // the marker without its colon
    int position = 0; // from 0, in order of appearance
    int dataType = 0; // ADO type number: 0 not set, 5 double, 3 integer, 2 smallint, 200 varchar
    int size = 0;
    QVariant value;
};

// ADO data type numbers recorded in Parameter::dataType.
enum AdoType : int {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adDouble = 5,
    adVarChar = 200,
};

// A query object on the connection: statement text as a list of lines, parameter list, current
// result. Every statement is issued as: empty the text; set it (or append its lines); bind every
// parameter by position; run the select or execute.
class TQuery
{
public:
    // commandTimeoutSeconds 0 means the driver's default.
    TQuery(TConnection &connection, const QString &name, int commandTimeoutSeconds = 0);
    ~TQuery();
    TQuery(const TQuery &) = delete;
    TQuery &operator=(const TQuery &) = delete;

    QString name() const { return m_name; }

    // Statement text.
    void clearText();
    void setText(const QString &line);
    void appendLine(const QString &line);
    QStringList lines() const { return m_lines; }
    // The lines joined, each followed by CR LF.
    QString text() const;
    // The text with markers replaced by '?', as sent to the driver.
    QString commandText() const;
    const QList<Parameter> &parameters() const { return m_params; }

    // Binding by position; throws qalu::Failure for a position outside the list. A null QString
    // binds as the empty text, never as NULL.
    void setDouble(int position, double value);
    void setInteger(int position, qint32 value);
    void setByte(int position, quint8 value);
    void setString(int position, const QString &value);

    // Run a select: every row fetched, positioned on the first. Opens the connection when it is
    // closed; throws qalu::Failure with the driver's trimmed error text.
    void Open();
    bool isOpen() const;
    int RecordCount() const;
    // First column of the current row; 0 / the empty text without a row or for NULL.
    qint32 firstFieldAsInteger() const;
    QString firstFieldAsText() const;
    // Any column of the current row as the driver handed it; invalid without a row.
    QVariant fieldValue(int column) const;
    // Moves to the next row of the result; Eof() once past the last.
    void Next();
    bool Eof() const;

    // Execute a statement that returns no rows. Returns the affected-row count. Opens the
    // connection when it is closed; throws qalu::Failure with the driver's trimmed error text.
    int ExecSQL();
    int RowsAffected() const;
    int commandTimeout() const { return m_timeout; }

private:
    friend class TConnection;
    class Impl;
    TConnection &m_connection;
    bool m_attached = true;
    QString m_name;
    int m_timeout;
    QStringList m_lines;
    QList<Parameter> m_params;
    QString m_commandText;
    std::unique_ptr<Impl> m_impl;

    void rebuild();
    Parameter &parameterAt(int position);
    void bind(int position, QVariant value, ValueKind kind);
    void ensureOpen();
    // Runs the command text; with fetchRows the result's rows land in the current result.
    int run(bool fetchRows);
    // Called by the connection: before it closes, and when it is destroyed first.
    void releaseStatements();
    void connectionGone();
};

} // namespace qalu::db
