#include "command_line.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return qalu::cli::dispatch(QCoreApplication::arguments().mid(1));
}
