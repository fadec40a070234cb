// The report "SInfo.txt": eleven lines in the ANSI code page, each ending in
// CR LF, written through a 128-byte buffer.
#pragma once

#include "SystemFacts.h"

#include <cstdint>
#include <string>

constexpr int ReportLineCount = 11;
constexpr uint32_t ReportBlockSize = 128;
constexpr size_t ReportPathLimit = 259;

// Creates or empties the file at facts.ReportPath and writes the report.
// False when the file could not be created (nothing written, nothing shown).
// Does not return when the path is too long or a write fails.
bool WriteReport(const SystemFacts& facts, uint32_t codePage);

// Line 1 to 11 of the report, without its line break. Line 3 asks for the
// uptime at the moment it is built.
std::u16string ReportLine(const SystemFacts& facts, int line);

struct ReportTextFile {
    std::u16string Path;
    void* Handle = nullptr;
    bool Open = false;
    uint32_t CodePage = 0;
    uint8_t Buffer[ReportBlockSize] = {};
    uint32_t Fill = 0;
    // The last failure's code; kept until taken, whatever succeeds after it.
    uint32_t PendingIoError = 0;
};

void BindReportTextFile(ReportTextFile& file, const std::u16string& path, uint32_t codePage);
void CreateReportTextFile(ReportTextFile& file);
uint32_t TakePendingIoError(ReportTextFile& file);
void WriteReportLine(ReportTextFile& file, const std::u16string& text);
void CloseReportTextFile(ReportTextFile& file);

// "Runtime error", the code right-aligned in three, " at " and the location
// as eight uppercase hexadecimal digits.
std::string RuntimeErrorText(uint8_t code, uint32_t location);

// Shows RuntimeErrorText in a box captioned "Error" and ends the process with code.
[[noreturn]] void HaltWithRuntimeError(uint8_t code, uint32_t location);

// The platform calls under the report file, each returning 0 or an error code.
// Creation accepts only a handle whose file type can be told.
uint32_t CreateReportHandle(const std::u16string& path, void*& handle);
uint32_t WriteReportBlock(void* handle, const uint8_t* bytes, uint32_t count);
uint32_t CloseReportHandle(void* handle);
std::string AnsiBytes(uint32_t codePage, const std::u16string& text);
