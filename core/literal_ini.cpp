#include "core/literal_ini.h"

#include <QStringList>

namespace qalu {

bool readLiteralIni(QIODevice &device, QSettings::SettingsMap &map)
{
    QString section;
    int lineNumber = 0;
    while (!device.atEnd()) {
        QString line = QString::fromUtf8(device.readLine());
        ++lineNumber;
        // A byte-order mark, as Windows' Notepad writes one.
        if (lineNumber == 1 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        const QString key = eq > 0 ? line.left(eq).trimmed() : QString();
        if (key.isEmpty() || key.contains(u'/') || key.contains(u'\\')) {
            map.insert(
                QStringLiteral("%1/%2").arg(QLatin1StringView(invalidLineGroup)).arg(lineNumber), line);
            continue;
        }
        map.insert(section.isEmpty() ? key : section + u'/' + key, line.mid(eq + 1).trimmed());
    }
    return true;
}

bool writeLiteralIni(QIODevice &device, const QSettings::SettingsMap &map)
{
    // The map is sorted, so each section's keys come together.
    QString section;
    bool first = true;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString value = it.value().toString();
        if (value.contains(u'\n') || value.contains(u'\r'))
            return false; // a value is one line in this form
        const qsizetype slash = it.key().lastIndexOf(u'/');
        const QString group = slash < 0 ? QString() : it.key().left(slash);
        const QString key = it.key().mid(slash + 1);
        if (first || group != section) {
            if (!group.isEmpty())
                device.write(
                    QStringLiteral("%1[%2]\n").arg(first ? QString() : QStringLiteral("\n"), group).toUtf8());
            section = group;
            first = false;
        }
        device.write(QStringLiteral("%1=%2\n").arg(key, value).toUtf8());
    }
    return true;
}

QSettings::Format literalIniFormat()
{
    static const QSettings::Format format
        = QSettings::registerFormat(QStringLiteral("conf"), readLiteralIni, writeLiteralIni);
    return format;
}

} // namespace qalu
