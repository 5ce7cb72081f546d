// File time conversions, local time by the current time zone.
#pragma once

#include "platform/types.h"

namespace zelo {

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime& local);
bool LocalFileTimeToFileTime(const FileTime& local, FileTime& utc);
bool FileTimeToSystemTime(const FileTime& time, SystemTime& fields);
bool SystemTimeToFileTime(const SystemTime& fields, FileTime& time);
SystemTime GetLocalTime();

// Conversions to and from Unix time, for platform code and tests.
FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);
void FileTimeToUnix(const FileTime& time, int64_t& seconds, int64_t& nanoseconds);

} // namespace zelo
