#include "app/application.h"

#include "app/dialog_notifier.h"
#include "app/error_report.h"
#include "app/title.h"
#include "core/failure_text.h"
#include "core/logging.h"

namespace qalu::app {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // The title goes into the application name, not the display name: Qt appends a display
    // name to every window caption, and the main window's caption must stay as it is.
    setApplicationName(applicationTitle());
    setLayoutDirection(Qt::LeftToRight);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentFailure();
    }
    return false;
}

void Application::reportCurrentFailure()
{
    const QString text = failureText(std::current_exception());
    Notifier *notifier = m_notifier ? m_notifier : DialogNotifier::instance();
    try {
        notifier->showErrorReport(text);
    } catch (...) {
        // A failing report must not take the program down with it.
        qCWarning(lcUpdate) << "the error report itself failed:" << failureText(std::current_exception());
    }
}

} // namespace qalu::app
