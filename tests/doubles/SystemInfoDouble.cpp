// Stands in for systeminfo.exe (and, copied under another name, for a planted
// cmd.exe): prints known lines, leaves "<own path>.ran" when it starts and
// "<own path>.done" when it ends, and sleeps KESTREL_DOUBLE_SLEEP_MS between.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
void LeaveMarker(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}
} // namespace

int main()
{
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    LeaveMarker(std::wstring(self) + L".ran");
    std::fputs("Host Name:                 KESTREL-DOUBLE\n"
               "OS Name:                   Systeminfo Test Double\n"
               "System Type:               x64-based PC\n",
               stdout);
    std::fflush(stdout);
    if (const char* sleep = std::getenv("KESTREL_DOUBLE_SLEEP_MS"))
        Sleep(static_cast<DWORD>(std::strtoul(sleep, nullptr, 10)));
    LeaveMarker(std::wstring(self) + L".done");
    return 0;
}
