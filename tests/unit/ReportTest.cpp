#include "FakePlatform.h"
#include "Report.h"

#include <gtest/gtest.h>

namespace {

// The run of 5 March 2026 at 09:07 from C:\Tools\Kestrel\Kestrel.exe.
SystemFacts ExampleFacts()
{
    SystemFacts facts{};
    facts.LocalTime.wYear = 2026;
    facts.LocalTime.wMonth = 3;
    facts.LocalTime.wDay = 5;
    facts.LocalTime.wHour = 9;
    facts.LocalTime.wMinute = 7;
    facts.HourText = ClockFieldText(facts.LocalTime.wHour);
    facts.MinuteText = ClockFieldText(facts.LocalTime.wMinute);
    facts.SystemDirectory = u"C:\\Windows\\system32";
    facts.ComputerName = u"OFFICE-PC7";
    facts.UserName = u"alex";
    facts.ScreenWidth = 1920;
    facts.ScreenHeight = 1080;
    facts.WorkArea = {0, 0, 1920, 1040};
    facts.ProgramPath = u"C:\\Tools\\Kestrel\\Kestrel.exe";
    facts.ReportPath = u"C:\\Tools\\Kestrel\\SInfo.txt";
    return facts;
}

const char ExampleReport[] = "Today is 5/3/2026  at: 09:07\r\n"
                             "\r\n"
                             "Windows UpTime: 2d 4h 17m 9sec\r\n"
                             "\r\n"
                             "This File is C:\\Tools\\Kestrel\\SInfo.txt\r\n"
                             "Program: Kestrel.exe\r\n"
                             "Program Location: C:\\Tools\\Kestrel\\\r\n"
                             "Computer Name: OFFICE-PC7\r\n"
                             "User Name: alex\r\n"
                             "Screen Work Area - Top: 0 Left: 0 Bottom: 1040 Right: 1920\r\n"
                             "Screen Width: 1920 x Height: 1080\r\n";

class Report : public testing::Test {
protected:
    void SetUp() override
    {
        Fake = FakePlatform{};
        Fake.TickCount = ((2ull * 24 + 4) * 60 + 17) * 60000 + 9 * 1000 + 500;
    }

    // WriteReport, with the halt it ends in instead of the process's end.
    static HaltedWithRuntimeError HaltOf(const SystemFacts& facts)
    {
        try {
            WriteReport(facts, 1252);
        } catch (const HaltedWithRuntimeError& halt) {
            return halt;
        }
        ADD_FAILURE() << "WriteReport returned instead of halting";
        return {0, 0};
    }
};

} // namespace

TEST_F(Report, ExampleRunGivesTheWholeFileInThreeBlocks)
{
    ASSERT_TRUE(WriteReport(ExampleFacts(), 1252));
    EXPECT_EQ(FakeFileBytes(), ExampleReport);
    EXPECT_EQ(FakeFileBytes().size(), 305u);
    ASSERT_EQ(Fake.Blocks.size(), 3u);
    EXPECT_EQ(Fake.Blocks[0].size(), 128u);
    EXPECT_EQ(Fake.Blocks[1].size(), 128u);
    EXPECT_EQ(Fake.Blocks[2].size(), 49u);
    EXPECT_FALSE(Fake.HandleOpen);
}

TEST_F(Report, BlocksLeaveOnlyWhenTheBufferFills)
{
    const SystemFacts facts = ExampleFacts();
    ReportTextFile file;
    BindReportTextFile(file, facts.ReportPath, 1252);
    CreateReportTextFile(file);
    ASSERT_EQ(TakePendingIoError(file), 0u);
    const size_t blocksAfterLine[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2};
    for (int line = 1; line <= ReportLineCount; ++line) {
        WriteReportLine(file, ReportLine(facts, line));
        EXPECT_EQ(Fake.Blocks.size(), blocksAfterLine[line - 1]) << "after line " << line;
    }
    // The carriage return of line 6 is the 128th byte.
    EXPECT_EQ(Fake.Blocks[0].substr(116), "Kestrel.exe\r");
    CloseReportTextFile(file);
    EXPECT_EQ(Fake.Blocks.size(), 3u);
    EXPECT_FALSE(file.Open);
}

TEST_F(Report, LongLineCrossesBlocksIntact)
{
    ReportTextFile file;
    BindReportTextFile(file, u"C:\\SInfo.txt", 1252);
    CreateReportTextFile(file);
    std::u16string longLine;
    for (int i = 0; i < 300; ++i)
        longLine += static_cast<char16_t>(u'a' + i % 26);
    WriteReportLine(file, longLine);
    WriteReportLine(file, u"");
    CloseReportTextFile(file);
    ASSERT_EQ(Fake.Blocks.size(), 3u);
    EXPECT_EQ(Fake.Blocks[0].size(), 128u);
    EXPECT_EQ(Fake.Blocks[1].size(), 128u);
    EXPECT_EQ(FakeFileBytes(), std::string(longLine.begin(), longLine.end()) + "\r\n\r\n");
}

TEST_F(Report, LinesFromOtherFacts)
{
    SystemFacts facts = ExampleFacts();
    facts.LocalTime = {2025, 12, 0, 31, 23, 59, 0, 0};
    facts.HourText = ClockFieldText(23);
    facts.MinuteText = ClockFieldText(59);
    EXPECT_EQ(ReportLine(facts, 1), u"Today is 31/12/2025  at: 23:59");
    facts.HourText = ClockFieldText(0);
    facts.MinuteText = ClockFieldText(5);
    EXPECT_EQ(ReportLine(facts, 1), u"Today is 31/12/2025  at: 00:05");
    EXPECT_EQ(ClockFieldText(10), u"10");

    facts.WorkArea = {0, -8, 1920, 1032};
    EXPECT_EQ(ReportLine(facts, 10), u"Screen Work Area - Top: -8 Left: 0 Bottom: 1032 Right: 1920");
    facts.WorkArea = {};
    EXPECT_EQ(ReportLine(facts, 10), u"Screen Work Area - Top: 0 Left: 0 Bottom: 0 Right: 0");

    facts.ComputerName.clear();
    EXPECT_EQ(ReportLine(facts, 8), u"Computer Name: ");

    facts.ProgramPath = u"D:\\Kestrel.exe";
    EXPECT_EQ(ReportLine(facts, 6), u"Program: Kestrel.exe");
    EXPECT_EQ(ReportLine(facts, 7), u"Program Location: D:\\");
}

TEST_F(Report, FileThatCannotBeCreatedIsSilent)
{
    Fake.CreateError = 5;
    EXPECT_FALSE(WriteReport(ExampleFacts(), 1252));
    EXPECT_TRUE(Fake.Blocks.empty());
}

TEST_F(Report, PathLongerThan259HaltsBeforeAnyFileIsTouched)
{
    SystemFacts facts = ExampleFacts();
    facts.ReportPath = u"C:\\" + std::u16string(247, u'd') + u"\\SInfo.txt";
    ASSERT_EQ(facts.ReportPath.size(), 260u);
    const HaltedWithRuntimeError halt = HaltOf(facts);
    EXPECT_EQ(halt.Code, 3);
    EXPECT_EQ(Fake.CreateCalls, 0);

    facts.ReportPath.erase(3, 1);
    EXPECT_TRUE(WriteReport(facts, 1252));
    EXPECT_EQ(Fake.CreateCalls, 1);
}

TEST_F(Report, FailedBlockHaltsAfterTheLineThatFilledIt)
{
    // Block 1 fills in line 6, block 2 in line 10, block 3 is the close's.
    const int lineOfBlock[] = {6, 10};
    uint32_t locations[3] = {};
    for (size_t block = 1; block <= 3; ++block) {
        SetUp();
        Fake.FailingBlock = block;
        const HaltedWithRuntimeError halt = HaltOf(ExampleFacts());
        EXPECT_EQ(halt.Code, 112);
        EXPECT_EQ(Fake.Blocks.size(), block - 1);
        locations[block - 1] = halt.Location;
        if (block < 3) {
            EXPECT_EQ(halt.Location & 0xFF, static_cast<uint32_t>(lineOfBlock[block - 1]));
        }
    }
    // Each test that can fail says where it was in the box.
    EXPECT_NE(locations[0], locations[1]);
    EXPECT_NE(locations[2], locations[0]);
    EXPECT_NE(locations[2], locations[1]);
}

TEST_F(Report, ErrorCodeIsTakenModulo256)
{
    Fake.FailingBlock = 1;
    Fake.WriteError = 0x170; // ERROR_IO_DEVICE would not fit a byte
    EXPECT_EQ(HaltOf(ExampleFacts()).Code, 0x70);
}

TEST_F(Report, FailedCloseHandleLeavesACompleteReport)
{
    Fake.CloseError = 6;
    EXPECT_TRUE(WriteReport(ExampleFacts(), 1252));
    EXPECT_EQ(FakeFileBytes(), ExampleReport);
}

TEST(RuntimeErrorText, CodeRightAlignedLocationInHex)
{
    EXPECT_EQ(RuntimeErrorText(112, 0x4B00020A), "Runtime error 112 at 4B00020A");
    EXPECT_EQ(RuntimeErrorText(5, 0xABC), "Runtime error   5 at 00000ABC");
    EXPECT_EQ(RuntimeErrorText(39, 0xFFFFFFFF), "Runtime error  39 at FFFFFFFF");
    EXPECT_EQ(RuntimeErrorText(0, 0), "Runtime error   0 at 00000000");
}
