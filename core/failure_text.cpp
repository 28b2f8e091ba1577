#include "core/failure_text.h"

#include "core/failure.h"

namespace qalu {

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

QString errorReportText(const QString &failureText)
{
    QString text = failureText;
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += QLatin1Char('.');
    return text;
}

} // namespace qalu
