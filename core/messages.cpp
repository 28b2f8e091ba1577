#include "core/messages.h"

namespace qalu::messages {

QString databaseProblem()
{
    return QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات");
}

QString downloadProblem()
{
    return QStringLiteral("هناك مشكلة بالتحميل من الموقع");
}

QString updateCompleted()
{
    return QStringLiteral("تمت عملية التحديث بنجاح");
}

QString readProblem()
{
    return QStringLiteral("حدث خطأ بتحميل الاسعار من الموقع");
}

QString updateIncomplete()
{
    return QStringLiteral("لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث");
}

} // namespace qalu::messages
