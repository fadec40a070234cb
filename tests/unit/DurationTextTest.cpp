#include "MySUtils.h"

#include <gtest/gtest.h>

TEST(DurationText, ShowsEverySmallerUnitOnceALargerOneIsShown)
{
    struct Case {
        uint64_t Milliseconds;
        std::u16string Text;
    };
    const Case cases[] = {
        {0, u"0sec"},
        {999, u"0sec"},
        {1000, u"1sec"},
        {59999, u"59sec"},
        {60000, u"1m 0sec"},
        {3599999, u"59m 59sec"},
        {3600000, u"1h 0m 0sec"},
        {3605000, u"1h 0m 5sec"},
        {86399999, u"23h 59m 59sec"},
        {86400000, u"1d 0h 0m 0sec"},
        {90061000, u"1d 1h 1m 1sec"},
        {2147483648, u"24d 20h 31m 23sec"},
        {4294967295, u"49d 17h 2m 47sec"},
        // Past the 32-bit tick count's wrap.
        {4294967296, u"49d 17h 2m 47sec"},
        {100ull * 86400000, u"100d 0h 0m 0sec"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DurationText(c.Milliseconds), c.Text) << c.Milliseconds;
}
