#include "Report.h"

#include <cstring>

namespace {

// Whole blocks go to the file as the buffer fills; the remainder waits for the
// close. After a failed block the rest of the bytes is dropped.
void PutBytes(ReportTextFile& file, const std::string& bytes)
{
    const char* next = bytes.data();
    size_t count = bytes.size();
    while (count >= ReportBlockSize - file.Fill) {
        const size_t room = ReportBlockSize - file.Fill;
        std::memcpy(file.Buffer + file.Fill, next, room);
        next += room;
        count -= room;
        file.Fill = 0;
        if (const uint32_t error = WriteReportBlock(file.Handle, file.Buffer, ReportBlockSize)) {
            file.PendingIoError = error;
            return;
        }
    }
    if (count > 0)
        std::memcpy(file.Buffer + file.Fill, next, count);
    file.Fill += static_cast<uint32_t>(count);
}

} // namespace

void BindReportTextFile(ReportTextFile& file, const std::u16string& path, uint32_t codePage)
{
    file.Path = path;
    file.Open = false;
    file.Fill = 0;
    file.CodePage = codePage;
    if (path.size() > ReportPathLimit)
        file.PendingIoError = 3; // ERROR_PATH_NOT_FOUND
}

void CreateReportTextFile(ReportTextFile& file)
{
    if (const uint32_t error = CreateReportHandle(file.Path, file.Handle)) {
        file.PendingIoError = error;
        return;
    }
    file.Open = true;
}

uint32_t TakePendingIoError(ReportTextFile& file)
{
    const uint32_t error = file.PendingIoError;
    file.PendingIoError = 0;
    return error;
}

void WriteReportLine(ReportTextFile& file, const std::u16string& text)
{
    PutBytes(file, AnsiBytes(file.CodePage, text) + "\r\n");
}

void CloseReportTextFile(ReportTextFile& file)
{
    if (file.Fill > 0) {
        const uint32_t count = file.Fill;
        file.Fill = 0;
        // A failed last block leaves the file open, so the caller can tell.
        if (const uint32_t error = WriteReportBlock(file.Handle, file.Buffer, count)) {
            file.PendingIoError = error;
            return;
        }
    }
    file.Open = false;
    if (const uint32_t error = CloseReportHandle(file.Handle))
        file.PendingIoError = error;
    file.Handle = nullptr;
}
