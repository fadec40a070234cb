#include "FakePlatform.h"
#include "Report.h"

#include <gtest/gtest.h>

namespace {

// A run on 5 March 2026 at 09:07 from C:\Tools\Kestrel\Kestrel.exe: 305 bytes,
// which leave in blocks when lines 6 and 10 fill the buffer, and at the close.
SystemFacts ExampleFacts()
{
    SystemFacts facts{};
    facts.LocalTime = {2026, 3, 4, 5, 9, 7, 0, 0};
    facts.HourText = u"09";
    facts.MinuteText = u"07";
    facts.ComputerName = u"OFFICE-PC7";
    facts.UserName = u"alex";
    facts.ScreenWidth = 1920;
    facts.ScreenHeight = 1080;
    facts.WorkArea = {0, 0, 1920, 1040};
    facts.ProgramPath = u"C:\\Tools\\Kestrel\\Kestrel.exe";
    facts.ReportPath = u"C:\\Tools\\Kestrel\\SInfo.txt";
    return facts;
}

// WriteReport, with the halt it ends in in place of the process's end.
HaltedWithRuntimeError HaltOf(const SystemFacts& facts)
{
    try {
        WriteReport(facts, 1252);
    } catch (const HaltedWithRuntimeError& halt) {
        return halt;
    }
    ADD_FAILURE() << "WriteReport returned instead of halting";
    return {0, 0};
}

} // namespace

TEST(Report, LinesFromOtherFacts)
{
    SystemFacts facts = ExampleFacts();
    facts.LocalTime = {2025, 12, 3, 31, 0, 5, 0, 0};
    facts.HourText = u"00";
    facts.MinuteText = u"05";
    EXPECT_EQ(ReportLine(facts, 1), u"Today is 31/12/2025  at: 00:05");
    facts.WorkArea = {0, -8, 1920, 1032};
    EXPECT_EQ(ReportLine(facts, 10), u"Screen Work Area - Top: -8 Left: 0 Bottom: 1032 Right: 1920");
    facts.WorkArea = {};
    EXPECT_EQ(ReportLine(facts, 10), u"Screen Work Area - Top: 0 Left: 0 Bottom: 0 Right: 0");
    facts.ComputerName.clear();
    EXPECT_EQ(ReportLine(facts, 8), u"Computer Name: ");
}

TEST(Report, FailedBlockHaltsWithItsCodeWhereItFailed)
{
    // Blocks 1 and 2 fail in the middle of the file, block 3 at the close: a
    // report that lacks its end must not pass for a complete one.
    const uint32_t locations[] = {0x4B000206, 0x4B00020A, 0x4B000300};
    for (size_t block = 1; block <= 3; ++block) {
        Fake = FakePlatform{};
        Fake.FailingBlock = block;
        const HaltedWithRuntimeError halt = HaltOf(ExampleFacts());
        EXPECT_EQ(halt.Code, 112);
        EXPECT_EQ(halt.Location, locations[block - 1]);
        EXPECT_EQ(Fake.File.size(), 128 * (block - 1));
    }
    Fake = FakePlatform{};
    Fake.FailingBlock = 1;
    Fake.WriteError = 0x170; // shown and returned in its low 8 bits
    EXPECT_EQ(HaltOf(ExampleFacts()).Code, 0x70);
}

TEST(Report, FailedCloseHandleLeavesACompleteReport)
{
    Fake = FakePlatform{};
    Fake.CloseError = 6;
    EXPECT_TRUE(WriteReport(ExampleFacts(), 1252));
    EXPECT_EQ(Fake.File.size(), 305u);
}
