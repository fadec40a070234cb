#include "MySUtils.h"
#include "SystemFacts.h"

#include <gtest/gtest.h>

TEST(NumberText, SignAndDigitsOnly)
{
    EXPECT_EQ(NumberText(0), u"0");
    EXPECT_EQ(NumberText(-1), u"-1");
    EXPECT_EQ(NumberText(-5), u"-5");
    EXPECT_EQ(NumberText(INT64_MAX), u"9223372036854775807");
    EXPECT_EQ(NumberText(INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(ClockFieldText(9), u"09");
    EXPECT_EQ(ClockFieldText(10), u"10");
}

TEST(PathParts, BackslashAndColonOnlyDelimit)
{
    const struct {
        std::u16string Path, Directory, FileName;
    } cases[] = {
        {u"C:file", u"C:", u"file"},
        {u"C:/dir/file", u"C:", u"/dir/file"},
        {u"file.txt", u"", u"file.txt"},
        {u"", u"", u""},
        {u"C:\\dir\\", u"C:\\dir\\", u""},
        {u"\\\\server\\share\\K.exe", u"\\\\server\\share\\", u"K.exe"},
        // A NUL in a path must not match the terminator of the delimiter set.
        {std::u16string(u"a\\b\0c", 5), u"a\\", std::u16string(u"b\0c", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathDirectory(c.Path), c.Directory);
        EXPECT_EQ(PathFileName(c.Path), c.FileName);
    }
}

TEST(DurationText, ShowsEverySmallerUnitOnceALargerOneIsShown)
{
    const struct {
        uint64_t Milliseconds;
        std::u16string Text;
    } cases[] = {
        {999, u"0sec"},
        {59999, u"59sec"},
        {60000, u"1m 0sec"},
        {3605000, u"1h 0m 5sec"},
        {86399999, u"23h 59m 59sec"},
        {90061000, u"1d 1h 1m 1sec"},
        {100ull * 86400000, u"100d 0h 0m 0sec"}, // past where a 32-bit tick count wraps
    };
    for (const auto& c : cases)
        EXPECT_EQ(DurationText(c.Milliseconds), c.Text) << c.Milliseconds;
}
