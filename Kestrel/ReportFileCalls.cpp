// The Win32 side of the report file and of its error box.
#include "Report.h"

#include "WideText.h"

uint32_t CreateReportHandle(const std::u16string& path, void*& handle)
{
    // Create or empty; others may read the report while it is written.
    const HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (GetFileType(file) == FILE_TYPE_UNKNOWN) {
        CloseHandle(file);
        return ERROR_SEM_OWNER_DIED; // 105: the handle is of no type that can be told
    }
    handle = file;
    return 0;
}

uint32_t WriteReportBlock(void* handle, const uint8_t* bytes, uint32_t count)
{
    DWORD written = 0;
    if (!WriteFile(handle, bytes, count, &written, nullptr))
        return GetLastError();
    // A short write leaves a hole in the report as surely as a failed one.
    return written == count ? 0 : ERROR_WRITE_FAULT;
}

uint32_t CloseReportHandle(void* handle)
{
    return CloseHandle(handle) ? 0 : GetLastError();
}

std::string AnsiBytes(uint32_t codePage, const std::u16string& text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, 0, Wide(text), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, Wide(text), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

void HaltWithRuntimeError(uint8_t code, uint32_t location)
{
    MessageBoxA(nullptr, RuntimeErrorText(code, location).c_str(), "Error", MB_OK);
    ExitProcess(code);
}
