#include "app/error_report.h"

#include "app/title.h"
#include "core/failure_text.h"

#include <QMessageBox>

namespace qalu::app {

void showErrorReport(const QString &failureText)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorReportText(failureText), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setLayoutDirection(Qt::LeftToRight);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace qalu::app
