#include "app/application.h"
#include "app/form1.h"
#include "core/decimal_separator.h"

#include <QIcon>

int main(int argc, char *argv[])
{
    qalu::app::Application app(argc, argv);
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
