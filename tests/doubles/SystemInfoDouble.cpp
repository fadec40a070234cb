// Stands in for systeminfo.exe (and, under other names, for planted programs):
// prints known lines, leaves "<own path>.ran" when it starts and "<own
// path>.done" when it ends, and sleeps KESTREL_DOUBLE_SLEEP_MS in between.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static void LeaveMarker(const wchar_t* suffix)
{
    wchar_t self[4 * MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, 4 * MAX_PATH);
    CloseHandle(CreateFileW((std::wstring(self) + suffix).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

int main()
{
    LeaveMarker(L".ran");
    std::fputs("Host Name:                 KESTREL-DOUBLE\nOS Name:                   Systeminfo Test Double\n"
               "System Type:               x64-based PC\n", stdout);
    std::fflush(stdout);
    if (const char* sleep = std::getenv("KESTREL_DOUBLE_SLEEP_MS"))
        Sleep(std::strtoul(sleep, nullptr, 10));
    LeaveMarker(L".done");
}
