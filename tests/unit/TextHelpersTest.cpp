#include "MySUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

TEST(NumberText, SignAndDigitsOnly)
{
    EXPECT_EQ(NumberText(0), u"0");
    EXPECT_EQ(NumberText(7), u"7");
    EXPECT_EQ(NumberText(-5), u"-5");
    EXPECT_EQ(NumberText(1920), u"1920");
    EXPECT_EQ(NumberText(std::numeric_limits<int64_t>::max()), u"9223372036854775807");
    EXPECT_EQ(NumberText(std::numeric_limits<int64_t>::min()), u"-9223372036854775808");
}

TEST(ScanChar, ComparesBeforeTheEndTest)
{
    const char16_t* abc = u"abc";
    EXPECT_EQ(ScanChar(abc, u'b'), abc + 1);
    EXPECT_EQ(ScanChar(abc, u'x'), nullptr);
    EXPECT_EQ(ScanChar(abc, u'\0'), abc + 3);
    const char16_t* empty = u"";
    EXPECT_EQ(ScanChar(empty, u'a'), nullptr);
    EXPECT_EQ(ScanChar(empty, u'\0'), empty);
}

TEST(LastDelimiterIndex, BackslashAndColon)
{
    const std::u16string delimiters = u"\\:";
    EXPECT_EQ(LastDelimiterIndex(delimiters, u"C:\\dir\\file.txt"), 7);
    EXPECT_EQ(LastDelimiterIndex(delimiters, u"C:file"), 2);
    EXPECT_EQ(LastDelimiterIndex(delimiters, u"file.txt"), 0);
    EXPECT_EQ(LastDelimiterIndex(delimiters, u""), 0);
    EXPECT_EQ(LastDelimiterIndex(delimiters, u"C:\\dir\\"), 7);
    EXPECT_EQ(LastDelimiterIndex(delimiters, u"C:/dir/file"), 2);
    // A NUL inside the subject must not match the delimiter set's terminator.
    const std::u16string withNul(u"a\\b\0c", 5);
    EXPECT_EQ(LastDelimiterIndex(delimiters, withNul), 2);
}

TEST(PathParts, DirectoryKeepsItsDelimiter)
{
    struct Case {
        std::u16string Path, Directory, FileName;
    };
    const Case cases[] = {
        {u"C:\\dir\\file.txt", u"C:\\dir\\", u"file.txt"},
        {u"C:file", u"C:", u"file"},
        {u"file.txt", u"", u"file.txt"},
        {u"", u"", u""},
        {u"C:\\dir\\", u"C:\\dir\\", u""},
        {u"C:\\Kestrel.exe", u"C:\\", u"Kestrel.exe"},
        {u"\\\\server\\share\\K.exe", u"\\\\server\\share\\", u"K.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathDirectory(c.Path), c.Directory);
        EXPECT_EQ(PathFileName(c.Path), c.FileName);
    }
}
