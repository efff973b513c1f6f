#include "exchangedisplay.h"

#include <QStringList>

namespace parvault::texts {

QString Done(int percent) { return QStringLiteral("Выполнено %1%").arg(percent); }

QString Baud(int baud) { return QStringLiteral("%1бод").arg(baud); }

QString ValueTooLongDetail(const std::vector<int>& rows) {
    QStringList numbers;
    for (int r : rows)
        numbers << QString::number(r + 1);
    return (rows.size() == 1 ? QStringLiteral("Строка %1 не записана: значение не помещается в запрос записи.")
                             : QStringLiteral("Строки %1 не записаны: значения не помещаются в запрос записи."))
        .arg(numbers.join(QStringLiteral(", ")));
}

} // namespace parvault::texts
