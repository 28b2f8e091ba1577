#pragma once

#include <QLoggingCategory>

// Where failures that the program deliberately swallows are still told, for support staff. The
// window's warnings go to standard error; qalu-cli keeps them off unless QT_LOGGING_RULES is set
// (for example QT_LOGGING_RULES="qalu.*=true").
namespace qalu {

Q_DECLARE_LOGGING_CATEGORY(lcUpdate) // qalu.update: the price update run
Q_DECLARE_LOGGING_CATEGORY(lcDownload) // qalu.download: fetching and removing the price list
Q_DECLARE_LOGGING_CATEGORY(lcDb) // qalu.db: connection and statements
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // qalu.settings: the settings files

} // namespace qalu
