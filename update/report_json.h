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

// A run's journal: when it ran, on which database (credentials removed), the old prices and
// whether they were read, and the run's report.
QJsonObject journalToJson(const QDateTime &utc, const QString &connectionString, bool snapshotTaken,
    const PriceSnapshot &snapshot, const UpdateReport &report);

// Reads and checks a journal file. Throws qalu::BadInput saying what is wrong.
Journal readJournal(const QString &path);

// One line of the journal list: the file name and the journal's summary, or why it cannot be read.
QJsonObject journalEntryJson(const QString &fileName, const Journal &journal);
QJsonObject unreadableJournalJson(const QString &fileName, const QString &problem);

} // namespace qalu::update
