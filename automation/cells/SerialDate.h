#pragma once

#include <optional>

namespace gm {

// Workbooks count days from one of two epochs: the 1900 system (serial 1 = 1900-01-01, with the
// non-existent 1900-02-29 kept as serial 60 for compatibility with older spreadsheets) and the
// 1904 system (serial 0 = 1904-01-01).
enum class DateSystem { Date1900, Date1904 };

struct CivilDate
{
    int year = 1900;
    int month = 1;
    int day = 0;
};

// Largest serial of the 1900 system that still names a day (9999-12-31).
inline constexpr long long LastSerial1900 = 2958465;
// Days between the two epochs: a 1904 serial plus this is the 1900 serial of the same day.
inline constexpr long long Date1904Offset = 1462;

// The calendar day of a whole 1900-system serial from 0 to LastSerial1900: 0 is 1900-01-00 and
// 60 is 1900-02-29, as spreadsheets show them.
CivilDate civilFromSerial1900(long long serial);
// Day of the week of a 1900-system serial, 0 = Sunday; below 61 it follows the shifted
// calendar (serial 1 counts as a Sunday).
int weekdayFromSerial1900(long long serial);
// The serial of a calendar day in the given system; nothing for days the system cannot hold
// (before its epoch, after 9999-12-31, or not in the calendar). 1900-02-29 is accepted in the
// 1900 system.
std::optional<long long> serialFromCivil(int year, int month, int day, DateSystem system);

} // namespace gm
