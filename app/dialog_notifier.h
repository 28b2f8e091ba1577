#pragma once

#include "app/notifier.h"

namespace qalu::app {

// The real dialogs: the message box and the default error report, both modal.
class DialogNotifier : public Notifier
{
public:
    void showMessage(const QString &text) override;
    void showErrorReport(const QString &failureText) override;

    // The one instance the program uses when no other notifier is given.
    static DialogNotifier *instance();
};

} // namespace qalu::app
