#pragma once

#include <QString>

#include <stdexcept>

namespace qalu {

// A failure raised by any layer of the program: connecting, downloading, reading the workbook,
// executing a statement. Failures travel as exceptions; each user-level step catches them at its
// own boundary. text() is what the default error report shows; code() is the provider's or
// library's numeric code where there is one (0 otherwise).
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString &text, qint64 code = 0)
        : std::runtime_error(text.toStdString())
        , m_text(text)
        , m_code(code)
    {
    }

    QString text() const { return m_text; }
    qint64 code() const { return m_code; }

private:
    QString m_text;
    qint64 m_code;
};

// A failure of what the program was given rather than of the machine or the database: a file
// that is not what it claims to be, or that does not belong where it is used. Callers that
// answer such input differently (qalu-cli's exit 2) catch it first.
class BadInput : public Failure
{
public:
    using Failure::Failure;
};

} // namespace qalu
