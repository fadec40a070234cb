// The report writer with stand-ins for the Win32 calls under it, so that any
// block can fail: what no real disk does on demand.
#include "Report.h"
#include "MySUtils.h"

#include <gtest/gtest.h>

static struct {
    size_t FailingBlock = 0; // 1-based; 0: none fails
    uint32_t WriteError = 112;
    uint32_t CloseError = 0;
    std::string File; // the bytes of the blocks written
} Fake;

struct HaltedWithRuntimeError {
    uint8_t Code;
    uint32_t Location;
};

// A run on 5 March 2026 at 09:07 from C:\Tools\Kestrel\Kestrel.exe: 305 bytes,
// which leave in blocks when lines 6 and 10 fill the buffer, and at the close.
// clang-format off: laid out as the record's fields go
static const SystemFacts Example = {{2026, 3, 4, 5, 9, 7, 0, 0}, u"09", u"07", u"C:\\Windows\\system32",
                                    u"OFFICE-PC7", u"alex", 1920, 1080, {0, 0, 1920, 1040},
                                    u"C:\\Tools\\Kestrel\\Kestrel.exe", u"C:\\Tools\\Kestrel\\SInfo.txt"};
// clang-format on

static HaltedWithRuntimeError HaltOf(size_t failingBlock, uint32_t error)
{
    Fake = {failingBlock, error, 0, {}};
    try {
        WriteReport(Example, 1252);
    } catch (const HaltedWithRuntimeError& halt) {
        return halt;
    }
    ADD_FAILURE() << "WriteReport returned instead of halting";
    return {0, 0};
}

// clang-format off: the stand-ins, one a line
uint32_t CreateReportHandle(const std::u16string&, void*&) { return 0; }
uint32_t CloseReportHandle(void*) { return Fake.CloseError; }
std::string AnsiBytes(uint32_t, const std::u16string& text) { return std::string(text.begin(), text.end()); }
void HaltWithRuntimeError(uint8_t code, uint32_t location) { throw HaltedWithRuntimeError{code, location}; }
std::u16string UpTimeText() { return u"2d 4h 17m 9sec"; }
// clang-format on

uint32_t WriteReportBlock(void*, const uint8_t* bytes, uint32_t count)
{
    if (Fake.File.size() / 128 + 1 == Fake.FailingBlock)
        return Fake.WriteError;
    Fake.File.append(reinterpret_cast<const char*>(bytes), count);
    return 0;
}

// wvsprintfW as far as the unit's own patterns go: "%d" and plain characters.
std::u16string FormatPattern(const std::u16string& pattern, std::initializer_list<int32_t> arguments)
{
    std::u16string text = pattern;
    for (const int32_t argument : arguments)
        text.replace(text.find(u"%d"), 2, NumberText(argument));
    return text;
}

TEST(Report, FailedWriteHaltsWhereItFailedAFailedCloseDoesNot)
{
    // Blocks 1 and 2 fail amid the lines, block 3 at the close: a report that
    // lacks its end must not pass for a complete one.
    const uint32_t locations[] = {0x4B000206, 0x4B00020A, 0x4B000300};
    for (size_t block = 1; block <= 3; ++block) {
        const HaltedWithRuntimeError halt = HaltOf(block, 112);
        EXPECT_EQ(halt.Code, 112);
        EXPECT_EQ(halt.Location, locations[block - 1]);
        EXPECT_EQ(Fake.File.size(), 128 * (block - 1));
    }
    EXPECT_EQ(HaltOf(1, 0x170).Code, 0x70); // shown and returned in its low 8 bits

    // A failed CloseHandle leaves the report whole: nothing to halt for. Compared whole, day
    // before month: the end-to-end cases compare line 1 with the host's clock, which cannot
    // tell day from month on a day such as 3 March.
    Fake = {0, 0, 6, {}};
    EXPECT_TRUE(WriteReport(Example, 1252));
    EXPECT_EQ(Fake.File,
              "Today is 5/3/2026  at: 09:07\r\n\r\nWindows UpTime: 2d 4h 17m 9sec\r\n\r\n"
              "This File is C:\\Tools\\Kestrel\\SInfo.txt\r\nProgram: Kestrel.exe\r\n"
              "Program Location: C:\\Tools\\Kestrel\\\r\nComputer Name: OFFICE-PC7\r\nUser Name: alex\r\n"
              "Screen Work Area - Top: 0 Left: 0 Bottom: 1040 Right: 1920\r\n"
              "Screen Width: 1920 x Height: 1080\r\n");
}

TEST(Report, ErrorTextRightAlignsTheCodeAndShowsEveryHexDigit)
{
    const struct {
        uint8_t Code;
        uint32_t Location;
        const char* Text;
    } cases[] = {{3, 0x4B000100, "Runtime error   3 at 4B000100"},
                 {5, 0x01234567, "Runtime error   5 at 01234567"},
                 {112, 0x89ABCDEF, "Runtime error 112 at 89ABCDEF"},
                 {255, 0, "Runtime error 255 at 00000000"},
                 {0, 0xFFFFFFFF, "Runtime error   0 at FFFFFFFF"}};
    for (const auto& each : cases)
        EXPECT_EQ(RuntimeErrorText(each.Code, each.Location), each.Text);
}

TEST(Report, ABlockLeavesWithTheLineThatFillsItAndTheCloseWritesEvenOneByte)
{
    Fake = {};
    ReportTextFile file;
    BindReportTextFile(file, u"C:\\SInfo.txt", 1252);
    CreateReportTextFile(file);
    // 126 characters and CR LF fill a block exactly: it leaves during that line,
    // so a failure of it is told after that line, not after a later one.
    WriteReportLine(file, std::u16string(126, u'x'));
    EXPECT_EQ(Fake.File.size(), 128u);
    // 127 and CR LF: a block, and the LF alone for the close.
    WriteReportLine(file, std::u16string(127, u'y'));
    CloseReportTextFile(file);
    EXPECT_EQ(Fake.File, std::string(126, 'x') + "\r\n" + std::string(127, 'y') + "\r\n");
    EXPECT_FALSE(file.Open);
}
