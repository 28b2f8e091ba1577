#include "db/number_rule.h"

#include "core/failure.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

namespace qalu::db {

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Parses `text` by the number rule; on failure says which part of the rule it broke.
bool parse(const QString &text, QChar decimalSeparator, double *value, QString *problem)
{
    const auto fail = [&](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const auto unexpected = [&](qsizetype at) {
        const QChar c = text.at(at);
        const QString shown
            = c.unicode() < 32 ? QStringLiteral("code %1").arg(c.unicode()) : QStringLiteral("'%1'").arg(c);
        return fail(
            QStringLiteral("character %1 at position %2 is not allowed there").arg(shown).arg(at + 1));
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && text.at(i).unicode() == 32)
        ++i;

    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }

    std::string digits;
    const qsizetype mantissaStart = i;
    while (i < n && isDigit(text.at(i)))
        digits.push_back(char(text.at(i++).unicode()));
    long long fractionDigits = 0;
    if (i < n && text.at(i) == decimalSeparator) {
        ++i;
        while (i < n && isDigit(text.at(i))) {
            digits.push_back(char(text.at(i++).unicode()));
            ++fractionDigits;
        }
    }
    if (i == mantissaStart)
        return i < n ? unexpected(i) : fail(QStringLiteral("no digits"));

    long long exponent = 0;
    if (i < n && (text.at(i) == u'E' || text.at(i) == u'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
            negativeExponent = text.at(i) == u'-';
            ++i;
        }
        // Digits stop being taken once the exponent reaches 500; any digit left over then
        // fails the text below, as anything else that is not a trailing blank does.
        while (i < n && isDigit(text.at(i)) && exponent < 500)
            exponent = exponent * 10 + (text.at(i++).unicode() - u'0');
        if (negativeExponent)
            exponent = -exponent;
    }

    while (i < n && text.at(i).unicode() == 32)
        ++i;
    if (i != n)
        return unexpected(i);

    if (digits.empty())
        digits.push_back('0');
    // All digits as one integer, scaled by a power of ten, written without a decimal point so
    // that strtold's locale cannot matter. strtold rounds the decimal value correctly to the
    // extended format; the narrowing to double is the second and last rounding.
    std::string decimal;
    decimal.reserve(digits.size() + 24);
    if (negative)
        decimal.push_back('-');
    decimal += digits;
    decimal += 'e';
    decimal += std::to_string(exponent - fractionDigits);

    errno = 0;
    char *end = nullptr;
    const long double extended = std::strtold(decimal.c_str(), &end);
    if (end != decimal.c_str() + decimal.size())
        return fail(QStringLiteral("not a number"));
    if (errno == ERANGE && std::isinf(extended))
        return fail(QStringLiteral("beyond the range of a double"));
    // Narrowing rounds to nearest; from the midpoint between DBL_MAX and 2^1024 on it would give
    // infinity, and out-of-range narrowing is not something to leave to the compiler.
    const long double overflowFrom = static_cast<long double>(DBL_MAX) + std::ldexp(1.0L, 970);
    if (std::fabs(extended) >= overflowFrom)
        return fail(QStringLiteral("beyond the range of a double"));
    *value = static_cast<double>(extended);
    return true;
}

} // namespace

bool parsePriceText(const QString &text, QChar decimalSeparator, double *value)
{
    return parse(text, decimalSeparator, value, nullptr);
}

QString priceTextProblem(const QString &text, QChar decimalSeparator)
{
    double value = 0;
    QString problem;
    parse(text, decimalSeparator, &value, &problem);
    return problem;
}

double priceFromText(const QString &text, QChar decimalSeparator)
{
    double value = 0;
    if (!parsePriceText(text, decimalSeparator, &value))
        throw Failure(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

} // namespace qalu::db
