#pragma once

#include <QString>

namespace qalu::app {

// How the window speaks to its user: the message box and the default error report. The real
// dialogs implement it; tests record the calls instead.
class Notifier
{
public:
    virtual ~Notifier() = default;
    // The message box: one text, the application title as caption, no icon, one OK.
    virtual void showMessage(const QString &text) = 0;
    // The default error report for a failure no handler caught (error icon, the "." rule applied).
    virtual void showErrorReport(const QString &failureText) = 0;
};

} // namespace qalu::app
