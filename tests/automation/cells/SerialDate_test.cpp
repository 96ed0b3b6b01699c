#include "automation/cells/DecimalDigits.h"
#include "automation/cells/SerialDate.h"

#include <gtest/gtest.h>

namespace gm {
namespace {

TEST(SerialDate, AnchorsOfBothSystems)
{
    struct Case
    {
        int year, month, day;
        DateSystem system;
        long long serial; // -1: the system cannot hold that day
    };
    const Case cases[] = {
        {1900, 1, 1, DateSystem::Date1900, 1},
        {1900, 2, 28, DateSystem::Date1900, 59},
        {1900, 2, 29, DateSystem::Date1900, 60},
        {1900, 3, 1, DateSystem::Date1900, 61},
        {2020, 1, 2, DateSystem::Date1900, 43832},
        {2025, 1, 1, DateSystem::Date1900, 45658},
        {9999, 12, 31, DateSystem::Date1900, 2958465},
        {1904, 1, 1, DateSystem::Date1904, 0},
        {2020, 1, 2, DateSystem::Date1904, 43832 - 1462},
        {1899, 12, 31, DateSystem::Date1900, -1},
        {1903, 12, 31, DateSystem::Date1904, -1},
        {2021, 2, 29, DateSystem::Date1900, -1},
        {2000, 2, 29, DateSystem::Date1900, 36585},
        {2100, 2, 29, DateSystem::Date1900, -1},
        {10000, 1, 1, DateSystem::Date1900, -1},
        {2020, 13, 1, DateSystem::Date1900, -1},
        {2020, 1, 0, DateSystem::Date1900, -1},
        {2020, 4, 31, DateSystem::Date1900, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.year << '-' << c.month << '-' << c.day);
        EXPECT_EQ(serialFromCivil(c.year, c.month, c.day, c.system).value_or(-1), c.serial);
    }
}

TEST(SerialDate, EveryDayRoundTripsWithItsWeekday)
{
    int expectedWeekday = 4; // 1900-03-01 was a Thursday
    for (long long serial = 1; serial <= LastSerial1900; ++serial) {
        const CivilDate d = civilFromSerial1900(serial);
        ASSERT_EQ(serialFromCivil(d.year, d.month, d.day, DateSystem::Date1900).value_or(-1), serial);
        if (serial >= 61) {
            ASSERT_EQ(weekdayFromSerial1900(serial), expectedWeekday) << serial;
            expectedWeekday = (expectedWeekday + 1) % 7;
        }
    }
    const CivilDate zero = civilFromSerial1900(0);
    EXPECT_EQ(zero.month * 100 + zero.day, 100); // 1900-01-00
    EXPECT_EQ(weekdayFromSerial1900(1), 0); // shifted: shown as a Sunday
}

TEST(DecimalDigits, RoundsTheFifteenDigitFormHalfAwayFromZero)
{
    struct Case
    {
        double value;
        int decimals;
        const char *expected;
    };
    const Case cases[] = {
        {1.005, 2, "1.01"},
        {2.675, 2, "2.68"},
        {0.5, 0, "1"},
        {0.05, 1, "0.1"},
        {0.04, 1, "0.0"},
        {9.995, 2, "10.00"},
        {1e-20, 2, "0.00"},
        {0.30000000000000004, 17, "0.30000000000000000"},
        {123456789012345678.0, 0, "123456789012346000"},
        {999999999999999.0, 0, "999999999999999"},
        {0, 3, "0.000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " to " << c.decimals);
        DecimalDigits d = DecimalDigits::fromDouble(c.value);
        d.roundDecimals(c.decimals);
        QString out;
        d.appendFixed(out, c.decimals);
        EXPECT_EQ(out.toStdString(), c.expected);
    }
}

} // namespace
} // namespace gm
