#include "update/update_report.h"

#include "core/messages.h"

namespace qalu::update {

QString updateMessage(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Completed:
        return messages::updateCompleted();
    case UpdateOutcome::ReadFailed:
        return messages::readProblem();
    case UpdateOutcome::RowFailed:
        break;
    }
    return messages::updateIncomplete();
}

QString reviewStatusName(ReviewStatus status)
{
    switch (status) {
    case ReviewStatus::Change:
        return QStringLiteral("change");
    case ReviewStatus::Same:
        return QStringLiteral("same");
    case ReviewStatus::UnknownGuid:
        return QStringLiteral("unknown-guid");
    case ReviewStatus::Insert:
        return QStringLiteral("insert");
    case ReviewStatus::Duplicate:
        return QStringLiteral("duplicate");
    case ReviewStatus::Fails:
        return QStringLiteral("fails");
    case ReviewStatus::NotReached:
        break;
    }
    return QStringLiteral("not-reached");
}

QStringList reviewMarkNames(unsigned marks)
{
    QStringList names;
    if (marks & ToZero)
        names << QStringLiteral("to-zero");
    if (marks & LargeChange)
        names << QStringLiteral("large-change");
    if (marks & SameName)
        names << QStringLiteral("same-name");
    if (marks & Repeated)
        names << QStringLiteral("repeated");
    if (marks & BlankRow)
        names << QStringLiteral("blank-row");
    if (marks & EmptyPrice)
        names << QStringLiteral("empty-price");
    return names;
}

int ReviewResult::count(ReviewStatus status) const
{
    int n = 0;
    for (const RowReport &row : rows)
        n += row.verdict == status;
    return n;
}

int ReviewResult::marked() const
{
    int n = 0;
    for (const RowReport &row : rows)
        n += row.marks != 0;
    return n;
}

bool ReviewResult::needsLook() const
{
    return droppedCount() > 0 || marked() > 0 || count(ReviewStatus::UnknownGuid) > 0
        || count(ReviewStatus::Duplicate) > 0;
}

} // namespace qalu::update
