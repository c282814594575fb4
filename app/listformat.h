#pragma once

// How the file lists show sizes and times: in the user's locale, the same
// way in the local and the remote pane.

#include <QString>

// The size in bytes with the locale's thousands separators.
QString SizeText(qint64 bytes);
// A time in seconds since the epoch, in local time: the short date alone at
// midnight, else the short date and the long time without its zone.
QString DateText(qint64 secondsSinceEpoch);
// The time of a remote listing's date fields ("Jan 12 10:30" or
// "Mar 3 2023"); false when they are no date. A date without a
// year is this year's, or last year's when that would lie in the future.
bool ListingTime(const QString& fields, qint64 nowSeconds, qint64& seconds);
