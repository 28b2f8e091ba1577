#pragma once

#include <QString>

namespace qalu::xlsx {

// What a cell's number format makes of a number: a plain number, a date or time, or a currency value.
enum class NumberKind : quint8 { General, Date, Currency };

// The kind of a built-in format, by its id.
NumberKind builtinKind(int id);

// The kind of a custom format, by its format code.
NumberKind customKind(const QString &code);

} // namespace qalu::xlsx
