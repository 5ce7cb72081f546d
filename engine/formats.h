// Number and date formats of the information windows and the backup listing.
#pragma once

#include <string>

namespace zelo {

// Last-write time of a file as local "MM/DD/YYYY    hh:mm:ss" with the seconds padded by a space
// ("02/03/2006    10:05: 7"). Empty when the file cannot be found.
std::string FormatFileDate(const std::string& path);

// A byte count with a unit and at most two decimals, cut not rounded: "999 B", "0.97 KB", "953.67 MB".
// The thresholds are decimal (1000, 999999, 10^9), the divisors powers of two.
std::string FormatSizeUnit(float value);

// A byte count with thousands separators: "123,456,792 Byte". The value is single precision,
// so counts above 2^24 show the nearest single-precision value.
std::string FormatByteCount(float value);

} // namespace zelo
