#include "platform/time.h"

#include "platform/errors.h"

#include <cerrno>
#include <ctime>

namespace zelo {

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kUnixEpochSeconds = 11'644'473'600; // 1601-01-01 to 1970-01-01
constexpr uint64_t kMaxFileTime = 0x7FFF'FFFF'FFFF'FFFFull;

// Days since 1601-01-01 of a proleptic Gregorian date (1601 starts a 400-year cycle).
int64_t daysFrom1601(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = unsigned(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // Days since 0000-03-01 minus the days from 0000-03-01 to 1601-01-01.
    return era * 146097 + int64_t(doe) - 584694;
}

void civilFrom1601(int64_t days, int& year, unsigned& month, unsigned& day)
{
    days += 584694;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = int(int64_t(yoe) + era * 400 + (month <= 2));
}

bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(int year, unsigned month)
{
    static constexpr unsigned kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// The offset of local time from UTC now, in seconds. Both directions use the current bias, as the
// system's conversions do, so two times compare the same way whatever the season they fall in.
int64_t currentBiasSeconds()
{
    time_t now = ::time(nullptr);
    struct tm local { };
    if (!::localtime_r(&now, &local)) return 0;
    return local.tm_gmtoff;
}

bool shift(const FileTime& in, int64_t seconds, FileTime& out)
{
    const int64_t ticks = seconds * int64_t(kTicksPerSecond);
    if (ticks < 0 && in.value < uint64_t(-ticks)) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    const uint64_t value = in.value + uint64_t(ticks);
    if (value > kMaxFileTime) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    out.value = value;
    return true;
}

} // namespace

FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds)
{
    // Clamped to what a file time can hold, 1601 to the year 30828, without overflowing on the way
    // (a tmpfs keeps times far beyond either end).
    constexpr int64_t kLastSecond = int64_t(kMaxFileTime / kTicksPerSecond) - kUnixEpochSeconds;
    if (seconds < -kUnixEpochSeconds) return FileTime { 0 };
    if (seconds > kLastSecond) return FileTime { kMaxFileTime };
    const uint64_t ticks = uint64_t(seconds + kUnixEpochSeconds) * kTicksPerSecond;
    const uint64_t fraction = uint64_t(nanoseconds < 0            ? 0
                                      : nanoseconds > 999'999'999 ? 999'999'999
                                                                  : nanoseconds)
        / 100;
    return FileTime { ticks > kMaxFileTime - fraction ? kMaxFileTime : ticks + fraction };
}

void FileTimeToUnix(const FileTime& time, int64_t& seconds, int64_t& nanoseconds)
{
    const uint64_t value = time.value > kMaxFileTime ? kMaxFileTime : time.value;
    seconds = int64_t(value / kTicksPerSecond) - kUnixEpochSeconds;
    nanoseconds = int64_t(value % kTicksPerSecond) * 100;
}

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime& local)
{
    return shift(utc, currentBiasSeconds(), local);
}

bool LocalFileTimeToFileTime(const FileTime& local, FileTime& utc)
{
    return shift(local, -currentBiasSeconds(), utc);
}

bool FileTimeToSystemTime(const FileTime& time, SystemTime& fields)
{
    if (time.value > kMaxFileTime) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    const uint64_t totalSeconds = time.value / kTicksPerSecond;
    const int64_t days = int64_t(totalSeconds / 86400);
    const unsigned secondOfDay = unsigned(totalSeconds % 86400);
    int year = 0;
    unsigned month = 0, day = 0;
    civilFrom1601(days, year, month, day);
    fields.year = uint16_t(year);
    fields.month = uint16_t(month);
    fields.day = uint16_t(day);
    fields.dayOfWeek = uint16_t((days + 1) % 7); // 1601-01-01 was a Monday; 0 is Sunday
    fields.hour = uint16_t(secondOfDay / 3600);
    fields.minute = uint16_t(secondOfDay / 60 % 60);
    fields.second = uint16_t(secondOfDay % 60);
    fields.milliseconds = uint16_t(time.value % kTicksPerSecond / 10'000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& fields, FileTime& time)
{
    if (fields.year < 1601 || fields.year > 30827 || fields.month < 1 || fields.month > 12 || fields.day < 1
        || fields.day > daysInMonth(fields.year, fields.month) || fields.hour > 23 || fields.minute > 59
        || fields.second > 59 || fields.milliseconds > 999) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    const int64_t days = daysFrom1601(fields.year, fields.month, fields.day);
    const uint64_t seconds = uint64_t(days) * 86400 + fields.hour * 3600u + fields.minute * 60u + fields.second;
    time.value = seconds * kTicksPerSecond + uint64_t(fields.milliseconds) * 10'000;
    return true;
}

SystemTime GetLocalTime()
{
    struct timespec now { };
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local { };
    ::localtime_r(&now.tv_sec, &local);
    SystemTime out;
    out.year = uint16_t(local.tm_year + 1900);
    out.month = uint16_t(local.tm_mon + 1);
    out.dayOfWeek = uint16_t(local.tm_wday);
    out.day = uint16_t(local.tm_mday);
    out.hour = uint16_t(local.tm_hour);
    out.minute = uint16_t(local.tm_min);
    out.second = uint16_t(local.tm_sec > 59 ? 59 : local.tm_sec);
    out.milliseconds = uint16_t(now.tv_nsec / 1'000'000);
    return out;
}

} // namespace zelo
