#include "MySUtils.h"
#include "WideText.h"

#include "HandleOwner.h"

#if !defined(_WIN64)
// The record must have its 32-bit layout, since cb carries its size.
static_assert(sizeof(STARTUPINFOW) == 68, "32-bit STARTUPINFOW layout");
#endif

bool RunAndWait(std::u16string& commandLine, const char16_t* applicationName, const char16_t* currentDirectory)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets the caller's
    // own buffer, never a constant.
    if (!CreateProcessW(Wide(applicationName), reinterpret_cast<wchar_t*>(commandLine.data()), nullptr, nullptr,
                        FALSE, NORMAL_PRIORITY_CLASS, nullptr, Wide(currentDirectory), &startup, &process))
        return false;
    const HandleOwner processHandle(process.hProcess);
    const HandleOwner threadHandle(process.hThread);
    // Whether the command ended or outlived the wait, it was run; a command
    // still running goes on by itself.
    WaitForSingleObject(process.hProcess, RunWaitMilliseconds);
    return true;
}
