#pragma once

#include "app/notifier.h"

#include <QList>
#include <QPair>
#include <QString>

// Records what the window would show, in order, instead of opening modal dialogs.
class RecordingNotifier : public qalu::app::Notifier
{
public:
    using Entry = QPair<QString, QString>; // ("message" | "report", text)

    void showMessage(const QString &text) override { entries.append({ QStringLiteral("message"), text }); }
    void showErrorReport(const QString &failureText) override
    {
        entries.append({ QStringLiteral("report"), failureText });
    }

    QList<Entry> entries;
};
