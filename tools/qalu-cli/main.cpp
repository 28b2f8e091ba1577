#include "commands.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

const char usage[] =
    "Usage: qalu-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Commands:\n"
    "  grid [--decimal-separator C] WORKBOOK\n"
    "      Print the price grid the program reads from WORKBOOK.\n"
    "  apply --connection CONNECTION-STRING [--decimal-separator C] WORKBOOK\n"
    "      Apply WORKBOOK to the pharmacy database, as the update button does.\n"
    "\n"
    "'qalu-cli COMMAND --help' explains a command.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Standard output and error are a contract: the program's own warnings appear only when
    // asked for through QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qalu.*=false"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        std::fputs(usage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 1 : 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("grid"))
        return qalu::cli::runGrid(args);
    if (command == QLatin1String("apply"))
        return qalu::cli::runApply(args);
    std::fprintf(stderr, "qalu-cli: unknown command '%s' (try --help)\n", qPrintable(command));
    return 1;
}
