#include "app/dialog_notifier.h"

#include "app/error_report.h"
#include "app/message_box.h"

namespace qalu::app {

void DialogNotifier::showMessage(const QString &text)
{
    MessageBox::inform(text);
}

void DialogNotifier::showErrorReport(const QString &failureText)
{
    app::showErrorReport(failureText);
}

DialogNotifier *DialogNotifier::instance()
{
    static DialogNotifier notifier;
    return &notifier;
}

} // namespace qalu::app
