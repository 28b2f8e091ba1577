#pragma once

#include <QIODevice>
#include <QSettings>

namespace qalu {

// The settings files' form, as people know it from Windows: "[section]" lines, "key=value" lines
// whose value is taken literally to the end of the line (semicolons, backslashes and quotes are
// part of it, so a whole connection string needs no escaping), blanks around keys and values
// dropped, and comment lines starting with ';' or '#'. Qt's own INI format would read
// ".\sqlexpress" as ".qlexpress" and cut a connection string at its first ';'.
//
// Keys come out as "section/key", as QSettings groups them. A line that is none of the above is
// kept under "invalidLineGroup/<line number>" with its text, so the reader of the settings can
// name it; nothing else is lost.
QSettings::Format literalIniFormat();

inline constexpr char invalidLineGroup[] = "invalid-line";

bool readLiteralIni(QIODevice &device, QSettings::SettingsMap &map);
bool writeLiteralIni(QIODevice &device, const QSettings::SettingsMap &map);

} // namespace qalu
