#include "commands.h"

#include <QCoreApplication>

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
