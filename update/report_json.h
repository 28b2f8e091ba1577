#pragma once

#include "update/run_journal.h"
#include "update/update_report.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace qalu::update {

// The JSON documents of the update domain, written and read in this one place: the run's
// report, the review's register, the journal, and the journal list's entries.

// The run's report as qalu-cli apply --report writes it and the journal holds it.
QJsonObject reportToJson(const UpdateReport &report);

// The review's register as one JSON document, its keys in the documented order.
QString reviewToJson(const QString &workbook, const ReviewResult &review);

// A run's journal as written ahead, state "started": when it ran, on which database (the
// connection string without credentials, and the database's own identity), the workbook and its
// hash, the old prices, the guids the database did not have, and the prices each update row is
// about to write.
QJsonObject journalStartJson(const QDateTime &utc, const QString &connectionString, const QString &identity,
    const QString &workbook, const PriceSnapshot &snapshot, const QStringList &noMedicine,
    const QList<PlannedRow> &planned);
// The same journal completed with the run's report.
QJsonObject journalCompletedJson(QJsonObject started, const UpdateReport &report);

// Reads and checks a journal file. Throws qalu::BadInput saying what is wrong.
Journal readJournal(const QString &path);

// How many of the journal's medicines the run left with stored prices other than the old ones.
int changedCount(const Journal &journal);

// One line of the journal list: the file name and the journal's summary, or why it cannot be read.
QJsonObject journalEntryJson(const QString &fileName, const Journal &journal);
QJsonObject unreadableJournalJson(const QString &fileName, const QString &problem);

} // namespace qalu::update
