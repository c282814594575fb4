#include "app/listformat.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QStringList>
#include <QTime>

#include <time.h>

#include <algorithm>
#include <limits>

namespace {

// The user's long time format without the time zone, which a file list
// never shows.
QString LongTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

int MonthNumber(const QString& name)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    const QString lower = name.toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == QLatin1String(months[i]))
            return i + 1;
    }
    return 0;
}

} // namespace

static bool WorkOutListingTime(const QString& fields, qint64 nowSeconds, qint64& seconds);

QString SizeText(qint64 bytes) { return QLocale::system().toString(bytes); }

QString DateText(qint64 secondsSinceEpoch)
{
    const time_t seconds = time_t(secondsSinceEpoch);
    struct tm parts {};
    if (!localtime_r(&seconds, &parts))
        return {};
    const QDate date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    const QTime time(parts.tm_hour, parts.tm_min, std::min(parts.tm_sec, 59));
    // A folder's files share few days: each day's text is made once (the
    // lists are filled and painted on the GUI thread only).
    static const QLocale locale = QLocale::system();
    static const QString timeFormat = LongTimeFormat(locale);
    static QHash<qint64, QString> days;
    auto found = days.constFind(date.toJulianDay());
    if (found == days.constEnd()) {
        if (days.size() > 4096)
            days.clear();
        found = days.insert(date.toJulianDay(), locale.toString(date, QLocale::ShortFormat));
    }
    if (time == QTime(0, 0))
        return found.value();
    return found.value() + QLatin1Char(' ') + locale.toString(time, timeFormat);
}

bool ListingTime(const QString& fields, qint64 nowSeconds, qint64& seconds)
{
    // A listing repeats its dates a lot; each text is worked out once per
    // day of "now" (the year of a date without one depends on it).
    static QHash<QString, qint64> known;
    static qint64 knownDay = -1;
    if (nowSeconds / 86400 != knownDay || known.size() > 100000) {
        known.clear();
        knownDay = nowSeconds / 86400;
    }
    const auto found = known.constFind(fields);
    if (found != known.constEnd()) {
        if (found.value() == std::numeric_limits<qint64>::min())
            return false;
        seconds = found.value();
        return true;
    }
    qint64 worked = 0;
    const bool ok = WorkOutListingTime(fields, nowSeconds, worked);
    known.insert(fields, ok ? worked : std::numeric_limits<qint64>::min());
    if (ok)
        seconds = worked;
    return ok;
}

static bool WorkOutListingTime(const QString& fields, qint64 nowSeconds, qint64& seconds)
{
    const QStringList parts = fields.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return false;
    const int month = MonthNumber(parts[0]);
    bool dayOk = false;
    const int day = parts[1].toInt(&dayOk);
    if (month == 0 || !dayOk)
        return false;
    struct tm parts2 {};
    const time_t now = time_t(nowSeconds);
    struct tm today {};
    if (!localtime_r(&now, &today))
        return false;
    const QString& last = parts[2];
    if (last.contains(QLatin1Char(':'))) {
        const QStringList clock = last.split(QLatin1Char(':'));
        bool hourOk = false;
        bool minuteOk = false;
        const int hour = clock.value(0).toInt(&hourOk);
        const int minute = clock.value(1).toInt(&minuteOk);
        if (!hourOk || !minuteOk || hour > 23 || minute > 59)
            return false;
        parts2.tm_year = today.tm_year;
        parts2.tm_hour = hour;
        parts2.tm_min = minute;
    } else {
        bool yearOk = false;
        const int year = last.toInt(&yearOk);
        if (!yearOk || year < 1900 || year > 9999)
            return false;
        parts2.tm_year = year - 1900;
    }
    if (!QDate(parts2.tm_year + 1900, month, day).isValid())
        return false;
    parts2.tm_mon = month - 1;
    parts2.tm_mday = day;
    parts2.tm_isdst = -1;
    time_t when = mktime(&parts2);
    // Without a year the listing means the last twelve months: a date more
    // than a day ahead is last year's.
    if (!last.contains(QLatin1Char(':')) || when <= now + 86400) {
        seconds = qint64(when);
        return when != time_t(-1);
    }
    parts2.tm_year -= 1;
    parts2.tm_isdst = -1;
    if (!QDate(parts2.tm_year + 1900, month, day).isValid())
        return false;
    when = mktime(&parts2);
    seconds = qint64(when);
    return when != time_t(-1);
}
