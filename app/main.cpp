#include "app/application.h"
#include "app/form1.h"
#include "core/decimal_separator.h"
#include "core/run_log.h"

#include <QIcon>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Answered before the application object exists: it needs a display, the answer does not.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("qalu-update " QALU_VERSION);
            return 0;
        }
    }
    qalu::app::Application app(argc, argv);
    qalu::runlog::open(QStringLiteral("qalu-update"));
    QIcon icon;
    for (int size : { 16, 24, 32, 48, 64, 96, 128, 256 })
        icon.addFile(QStringLiteral(":/qalu/icons/mainicon-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    qalu::refreshDecimalSeparator();

    qalu::app::TForm1 Form1;
    Form1.show();
    app.exec();
    return 0;
}
