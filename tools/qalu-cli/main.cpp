#include "command_line.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Standard output and error are a contract: the program's own warnings appear only when
    // asked for through QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qalu.*=false"));
    return qalu::cli::dispatch(QCoreApplication::arguments().mid(1));
}
