#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qalu {

// The program's settings: the built-in values first, then the machine-wide file, the user's
// file, the file QALU_SETTINGS names, and last what a command line gives. A later source
// overrides an earlier one, key by key. A file that cannot be read, a key that is not known or a
// value that is not valid is reported in one line and changes nothing: that key keeps the value
// of the source below.
//
// The keys, a documented contract: database/connection, download/address, download/workbook,
// price-list/date, price-list/decimal-separator, journal/folder, review/change-limit.
class Settings
{
public:
    enum Key {
        Connection,
        DownloadAddress,
        Workbook,
        PriceListDate,
        DecimalSeparator,
        JournalFolder,
        ChangeLimit,
    };
    static constexpr int keyCount = 7;
    // "database/connection", ...
    static QString keyName(Key key);

    // Where a value came from.
    enum class Source { BuiltIn, Machine, User, Environment, Option };
    static QString sourceName(Source source); // "built-in", "machine", "user", "QALU_SETTINGS", "option"

    struct BuiltIns
    {
        QString connection;
        QString downloadAddress;
        QString workbook;
        QString priceListDate;
        QString journalFolder;
        QString changeLimit;
    };

    // The files of this machine and user, read over `builtIns`. Problems go to `problems`, one
    // line each.
    static Settings load(const BuiltIns &builtIns, QStringList *problems);

    // The machine-wide and the user's settings file. QALU_MACHINE_SETTINGS names another machine
    // file (for tests and packaging).
    static QString machineFile();
    static QString userFile();

    // Reads one file as `source` over the values so far.
    void readFile(const QString &path, Source source, QStringList *problems);
    // A value given on the command line; returns why it is not valid, empty when taken.
    QString setOption(Key key, const QString &value);

    QString value(Key key) const { return m_values[key].value; }
    Source source(Key key) const { return m_values[key].source; }
    // Whether anything but the built-in values set it.
    bool isSet(Key key) const { return m_values[key].source != Source::BuiltIn; }

    // The value `key` has when no file sets it (the address and workbook path following the date).
    QString builtIn(Key key) const;

    // Why `value` cannot be the value of `key`; empty when it can.
    static QString problemWith(Key key, const QString &value);

private:
    struct Value
    {
        QString value;
        Source source = Source::BuiltIn;
    };
    Value m_values[keyCount];
    BuiltIns m_builtIns;

    void set(Key key, const QString &value, Source source);
};

} // namespace qalu
