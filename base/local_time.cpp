// UTC file time -> local broken-down time: the system's own conversion on Windows, the C
// library's local time natively.
#include "base/text_utils.h"

#ifdef _WIN32
#include <windows.h>

bool fileTimeToLocalCivil(const FileTime& utc, CivilTime& local) {
    FILETIME in{utc.low, utc.high};
    FILETIME localTime;
    SYSTEMTIME parts;
    if (!FileTimeToLocalFileTime(&in, &localTime) || !FileTimeToSystemTime(&localTime, &parts)) return false;
    local.year = parts.wYear;
    local.month = parts.wMonth;
    local.day = parts.wDay;
    local.hour = parts.wHour;
    local.minute = parts.wMinute;
    local.second = parts.wSecond;
    return true;
}

#else
#include <ctime>

bool fileTimeToLocalCivil(const FileTime& utc, CivilTime& local) {
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
    int64_t seconds = int64_t(utc.value() / 10000000ULL) - kSecondsFrom1601To1970;
    time_t t = time_t(seconds);
    struct tm parts;
    if (!localtime_r(&t, &parts)) return false;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.day = parts.tm_mday;
    local.hour = parts.tm_hour;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    return true;
}
#endif
