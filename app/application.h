#pragma once

#include <QApplication>

namespace qalu::app {

class Notifier;

// The application object. A failure that escapes an event handler while an event is dispatched
// goes to the default error report, and dispatching goes on.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    // Where escaped failures are reported; the real error report unless set.
    void setNotifier(Notifier *notifier) { m_notifier = notifier; }

    bool notify(QObject *receiver, QEvent *event) override;

    // Reports the failure being handled (call from a catch block).
    void reportCurrentFailure();

private:
    Notifier *m_notifier = nullptr;
};

} // namespace qalu::app
