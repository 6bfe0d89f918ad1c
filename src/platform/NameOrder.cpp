#include "platform/NameOrder.h"

#include <QLocale>

namespace NameOrder {

QCollator collator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator result(locale);
    result.setNumericMode(true);
    result.setCaseSensitivity(Qt::CaseInsensitive);
    return result;
}

int compare(QStringView a, QStringView b)
{
    thread_local QCollator perThread = collator();
    return perThread.compare(a, b);
}

} // namespace NameOrder
