#pragma once

#include <QString>

namespace qalu::messages {

// The five messages the user ever reads, in one place so the window and qalu-cli cannot drift.
QString databaseProblem(); // the connection could not be opened
QString downloadProblem(); // the price list could not be downloaded
QString updateCompleted(); // every row of the run applied
QString readProblem(); // the price list could not be read
QString updateIncomplete(); // a row failed; the rows before it stay applied

} // namespace qalu::messages
