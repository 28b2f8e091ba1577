#include "app/error_report.h"

#include "app/title.h"
#include "intake/failure.h"

#include <QMessageBox>

namespace qalu::app {

QString errorReportText(const QString &failureText)
{
    QString text = failureText;
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += QLatin1Char('.');
    return text;
}

QString failureText(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Failure &f) {
        return f.text();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown failure");
    }
}

void showErrorReport(const QString &failureText)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorReportText(failureText), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setLayoutDirection(Qt::LeftToRight);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace qalu::app
