#include "platform/time.h"

#include "platform/errors.h"

#include <chrono>
#include <ctime>

namespace zelo {

namespace {

using std::chrono::days;
using std::chrono::sys_days;

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kSecondsPerDay = 86'400;
constexpr uint64_t kMaxFileTime = 0x7FFF'FFFF'FFFF'FFFFull;
// File times count from the first day of 1601, the start of a 400-year Gregorian cycle.
constexpr sys_days kFileTimeEpoch = std::chrono::year(1601) / std::chrono::January / 1;
constexpr int64_t kUnixEpochSeconds = 11'644'473'600; // 1601-01-01 to 1970-01-01
static_assert((sys_days() - kFileTimeEpoch).count() * int64_t(kSecondsPerDay) == kUnixEpochSeconds);

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
    const sys_days day = kFileTimeEpoch + days(int64_t(totalSeconds / kSecondsPerDay));
    const std::chrono::year_month_day date(day);
    const std::chrono::hh_mm_ss clock(std::chrono::seconds(int64_t(totalSeconds % kSecondsPerDay)));
    fields.year = uint16_t(int(date.year()));
    fields.month = uint16_t(unsigned(date.month()));
    fields.day = uint16_t(unsigned(date.day()));
    fields.dayOfWeek = uint16_t(std::chrono::weekday(day).c_encoding()); // 0 is Sunday
    fields.hour = uint16_t(clock.hours().count());
    fields.minute = uint16_t(clock.minutes().count());
    fields.second = uint16_t(clock.seconds().count());
    fields.milliseconds = uint16_t(time.value % kTicksPerSecond / 10'000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& fields, FileTime& time)
{
    // The calendar types hold a month or day only up to 255: the fields are bounded before they are asked.
    const bool inRange = fields.year >= 1601 && fields.year <= 30827 && fields.month <= 12 && fields.day <= 31
        && fields.hour <= 23 && fields.minute <= 59 && fields.second <= 59 && fields.milliseconds <= 999;
    const std::chrono::year_month_day date { std::chrono::year(fields.year), std::chrono::month(fields.month),
        std::chrono::day(fields.day) };
    if (!inRange || !date.ok()) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    const auto sinceEpoch = sys_days(date) - kFileTimeEpoch + std::chrono::hours(fields.hour)
        + std::chrono::minutes(fields.minute) + std::chrono::seconds(fields.second);
    time.value = uint64_t(sinceEpoch.count()) * kTicksPerSecond + uint64_t(fields.milliseconds) * 10'000;
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
