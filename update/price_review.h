#pragma once

#include "update/update_report.h"

#include <QChar>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {
class TConnection;
}

namespace qalu::update {

// Predicts, row by row, what the price update run would do with a grid, without changing
// anything: it follows the run's rules (row cap, update or insert by column A, the price number
// rule in the run's binding order, the trim rule, MatNum numbering, category lookup by name) and
// sends only SELECT statements. Refusals by the database itself cannot be foreseen.
class PriceReview
{
public:
    explicit PriceReview(db::TConnection &connection, double changeLimitPercent = defaultChangeLimit);

    ReviewResult review(const TStringGrid &grid, QChar decimalSeparator);

private:
    db::TConnection &m_connection;
    double m_changeLimit;
};

} // namespace qalu::update
