#include "Report.h"

namespace {
// Where a failure was seen, shown in the error box.
constexpr uint32_t PathTestLocation = 0x4B000100;
constexpr uint32_t LineTestLocation = 0x4B000200; // plus the line number
constexpr uint32_t CloseTestLocation = 0x4B000300;

uint8_t LowByte(uint32_t error)
{
    return static_cast<uint8_t>(error & 0xFF);
}
} // namespace

bool WriteReport(const SystemFacts& facts, uint32_t codePage)
{
    ReportTextFile file;
    BindReportTextFile(file, facts.ReportPath, codePage);
    if (file.PendingIoError != 0)
        HaltWithRuntimeError(LowByte(file.PendingIoError), PathTestLocation);

    CreateReportTextFile(file);
    if (TakePendingIoError(file) != 0)
        return false;

    for (int line = 1; line <= ReportLineCount; ++line) {
        WriteReportLine(file, ReportLine(facts, line));
        if (file.PendingIoError != 0)
            HaltWithRuntimeError(LowByte(file.PendingIoError), LineTestLocation + static_cast<uint32_t>(line));
    }

    CloseReportTextFile(file);
    // Still open means the last block never reached the file: a report that
    // silently lacks its end must not be passed on as complete. A failed
    // CloseHandle alone leaves the file whole and is let go.
    if (file.Open)
        HaltWithRuntimeError(LowByte(file.PendingIoError), CloseTestLocation);
    return true;
}
