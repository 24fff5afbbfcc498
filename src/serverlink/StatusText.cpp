#include "serverlink/StatusText.h"

#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace StatusText {

QString Stamped(const QString &text)
{
    static qint64 second = -1;
    static QString time;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != second) {
        second = now;
        time = QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
    }
    return text + time;
}

} // namespace StatusText
