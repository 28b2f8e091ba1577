#pragma once

#include <QString>
#include <QtGlobal>

// The log support staff read: one line per event, appended by the window and qalu-cli alike to
// qalu-update.log beside the journal folder, rotated at a few files of 1 MiB. Writing it never
// fails a run: a log that cannot be written is skipped without a word.
namespace qalu::runlog {

enum class Level { Info, Warning };

// <GenericDataLocation>/qalu-update, the folder of the log files.
QString folder();
inline QString fileName()
{
    return QStringLiteral("qalu-update.log");
}
inline constexpr qint64 fileCap = 1024 * 1024;
inline constexpr int filesKept = 4; // qalu-update.log, .1, .2, .3

// Sends every event of this process to the log as `program`, and the qalu.* categories' warnings
// too, whatever the logging rules say; what reaches the console stays as the rules decide.
void open(const QString &program);

// What a message handler of its own does first: logs a qalu.* warning, and says whether the
// message goes on to the console (false where the logging rules keep it off).
bool passOn(QtMsgType type, const QMessageLogContext &context, const QString &message);

// One event; nothing happens before open().
void info(const QString &text);
void warning(const QString &text);

// The start line's facts: version, operating system, locale, separator, database.
void start(const QString &version, QChar decimalSeparator, const QString &databaseIdentity);

// `text` with control characters as \xHH (and the Unicode line and paragraph separators as
// \u{XXXX}), so it fills one line.
QString oneLine(const QString &text);

// Appends `line` and a newline to `dir`/qalu-update.log, first moving the files along when the
// line would take it past `cap` bytes (keeping `kept` files). Returns false when it could not.
bool append(const QString &dir, const QString &line, qint64 cap = fileCap, int kept = filesKept);

} // namespace qalu::runlog
