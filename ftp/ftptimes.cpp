// Keeping modification times: MDTM before a download and the local file's
// time set once it has arrived; MFMT after an upload when the server offers
// it. A refused MDTM or MFMT costs the time, never the transfer.

#include "ftp/customftpcli.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

// "YYYYMMDDHHMMSS[.sss]" (RFC 3659 time-val, UTC) as Unix seconds; 0 when
// the text is not one.
std::int64_t ParseTimeVal(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    if (text.size() < pos + 14)
        return 0;
    int digits[14] = {};
    for (int i = 0; i < 14; ++i) {
        const char c = text[pos + std::size_t(i)];
        if (c < '0' || c > '9')
            return 0;
        digits[i] = c - '0';
    }
    const auto number = [&digits](int from, int count) {
        int v = 0;
        for (int i = from; i < from + count; ++i)
            v = v * 10 + digits[i];
        return v;
    };
    TFtpTime t;
    t.Year = number(0, 4);
    t.Month = number(4, 2);
    t.Day = number(6, 2);
    t.Hour = number(8, 2);
    t.Minute = number(10, 2);
    t.Second = number(12, 2);
    if (t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 || t.Hour > 23 || t.Minute > 59 || t.Second > 60)
        return 0;
    t.HasDate = true;
    t.YearKnown = true;
    t.TimeKnown = true;
    t.SecondsKnown = true;
    t.Utc = true;
    return FtpTimeToUnix(t);
}

std::string TimeVal(std::int64_t seconds)
{
    const TFtpTime t = FtpTimeFromUnix(seconds);
    char text[32];
    std::snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return text;
}

} // namespace

void TCustomFtpCli::MdtmDone()
{
    const bool answered = FRequestResult == 0;
    if (!ForgiveRefusal())
        return;
    if (answered) {
        std::size_t pos = 0;
        ReadNumber(FLastResponse, pos);
        FRemoteFileTime = ParseTimeVal(FLastResponse, pos);
    }
    TriggerRequestDone(0);
}

void TCustomFtpCli::ApplyKeptTime()
{
    const std::int64_t seconds = FRemoteFileTime;
    FRemoteFileTime = 0;
    if (seconds <= 0 || FLocalFileName.empty() || FDisplayFileFlag)
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), 0}};
    const std::string path = TFtpLocalFile::ExpandFileName(FLocalFileName);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        TriggerDisplay("! Cannot set the time of " + FLocalFileName);
    FRemoteFileTime = seconds;
}

void TCustomFtpCli::RunMfmtStep()
{
    FLastFct = ftpFctMfmt;
    struct stat st {};
    const std::string path = TFtpLocalFile::ExpandFileName(FLocalFileName);
    if (::stat(path.c_str(), &st) != 0 || st.st_mtim.tv_sec <= 0) {
        // Nothing to keep: the step ends without a command.
        FDoneReported = false;
        FNext = &TCustomFtpCli::NextExecAsync;
        FDoneAsync = nullptr;
        TriggerRequestDone(0);
        return;
    }
    ExecTolerantAsync(ftpPutAsync, "MFMT " + TimeVal(st.st_mtim.tv_sec) + " " + FHostFileName, {213},
                      &TCustomFtpCli::MfmtDone);
}

void TCustomFtpCli::MfmtDone()
{
    if (ForgiveRefusal())
        TriggerRequestDone(0);
}
