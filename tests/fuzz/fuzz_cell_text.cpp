// Any double through the number, currency and date forms: the texts keep their invariants and the
// general format gives the value back to 15 digits.
#include "intake/cell_text.h"

#include <QLocale>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < sizeof(double) + 1)
        return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const QChar separator = (data[sizeof value] & 1) ? QLatin1Char(',') : QLatin1Char('.');

    const QString general = qalu::generalNumberText(value, separator);
    if (std::isfinite(value)) {
        if (general.isEmpty() || general.contains(QLatin1Char('+')) || general.size() > 24)
            __builtin_trap();
        QString back = general;
        back.replace(separator, QLatin1Char('.'));
        bool ok = false;
        const double parsed = back.toDouble(&ok);
        // The largest doubles round up past the double range; everything else comes back.
        if (std::fabs(value) < 1.7e308 && (!ok || std::fabs(parsed - value) > std::fabs(value) * 1e-14))
            __builtin_trap();
        if (value == 0 && general != QLatin1String("0"))
            __builtin_trap();
    }

    const QString currency = qalu::currencyText(value, separator);
    if (std::isfinite(value) && std::fabs(value) < 9e14) {
        const qsizetype sep = currency.indexOf(separator);
        if (sep >= 0 && currency.size() - sep - 1 > 4)
            __builtin_trap();
    }

    const auto moment = qalu::serialToDateTime(value, data[sizeof value] & 2);
    if (moment.valid) {
        if (!moment.time.isValid() || qalu::dateTimeText(moment, QLocale::c()).isEmpty())
            __builtin_trap();
    }
    return 0;
}
