#include "automation/cells/SerialDate.h"

namespace gm {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

CivilDate civilFromDays(long long z)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// 1899-12-30, the day before serial 1 once the phantom 1900-02-29 is passed.
const long long epoch1900 = daysFromCivil(1899, 12, 30);

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

} // namespace

CivilDate civilFromSerial1900(long long serial)
{
    if (serial == 0)
        return {1900, 1, 0};
    if (serial == 60)
        return {1900, 2, 29};
    return civilFromDays(epoch1900 + serial + (serial < 60 ? 1 : 0));
}

int weekdayFromSerial1900(long long serial)
{
    return static_cast<int>(((serial + 6) % 7 + 7) % 7);
}

std::optional<long long> serialFromCivil(int year, int month, int day, DateSystem system)
{
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    long long serial = 0;
    if (year == 1900 && month == 2 && day == 29) {
        serial = 60;
    } else {
        if (day > daysInMonth(year, month))
            return std::nullopt;
        serial = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - epoch1900;
        if (serial < 61)
            serial -= 1;
    }
    if (system == DateSystem::Date1904) {
        serial -= Date1904Offset;
        if (serial < 0)
            return std::nullopt;
    }
    return serial;
}

} // namespace gm
