#pragma once

#include "update/update_report.h"

#include <QChar>
#include <QMap>
#include <QString>

#include <memory>
#include <optional>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {
class TConnection;
}

namespace qalu::update {

class UpdateSession;

// Predicts, row by row, what the price update run would do with a grid, without changing
// anything: it follows the run's rules (row cap, update or insert by column A, the price number
// rule in the run's binding order, the trim rule, MatNum numbering, category lookup by name) and
// sends only SELECT statements. Refusals by the database itself cannot be foreseen.
class PriceReview
{
public:
    // `inTrial`: the rows' statements really run, in a transaction, between the rows' predictions,
    // so a later row's prices are read back from the database instead of taken from the list.
    explicit PriceReview(
        db::TConnection &connection, double changeLimitPercent = defaultChangeLimit, bool inTrial = false);
    ~PriceReview();
    PriceReview(const PriceReview &) = delete;
    PriceReview &operator=(const PriceReview &) = delete;

    ReviewResult review(const TStringGrid &grid, QChar decimalSeparator);

    // One grid row's prediction, given the rows before it were predicted in order. With `stop`
    // null the row only names itself (a row after the stop); otherwise a row that would fail
    // sets *stop.
    RowReport predictRow(
        const TStringGrid &grid, int gridRow, QChar decimalSeparator, std::optional<RowFailure> *stop);

private:
    struct State;
    db::TConnection &m_connection;
    double m_changeLimit;
    bool m_inTrial;
    std::unique_ptr<State> m_state;
};

// Fills `changed` of the report's applied update rows: whether the stored prices now differ from
// `oldPrices` (read before the run), as the database compares them: a select comparing each
// price column with the old value. A row whose guid matched nothing changed nothing; a guid
// without old prices stays unknown. Throws qalu::Failure with the database's text.
void markChanged(db::TConnection &connection, const QMap<QString, Prices> &oldPrices, UpdateReport &report);

// The review with --trial: the run's own statements on `session` (an UpdateRun, categories
// resolved as the run resolves them) in one transaction that is rolled back, each row predicted
// just before its statement. The register takes the stop, the categories and the rows' fate from
// what the database did. A workbook that cannot be read gives the read failure's text in
// `readFailure` and an empty result. With `preRead` the grid is that one rather than a new read.
ReviewResult trialReview(UpdateSession &session, const QString &workbook, QChar decimalSeparator,
    double changeLimitPercent, QString *readFailure, const TStringGrid *preRead = nullptr);

} // namespace qalu::update
