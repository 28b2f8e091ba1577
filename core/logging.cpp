#include "core/logging.h"

namespace qalu {

Q_LOGGING_CATEGORY(lcUpdate, "qalu.update")
Q_LOGGING_CATEGORY(lcDownload, "qalu.download")
Q_LOGGING_CATEGORY(lcDb, "qalu.db")
Q_LOGGING_CATEGORY(lcSettings, "qalu.settings")

} // namespace qalu
