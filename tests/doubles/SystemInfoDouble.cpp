// Stands in for systeminfo.exe, and for programs planted where none may be run:
// prints known lines and its own path, then sleeps KESTREL_DOUBLE_SLEEP_MS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    wchar_t self[4 * MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, 4 * MAX_PATH);
    std::printf("Host Name:                 KESTREL-DOUBLE\nRun From:                  %ls\n", self);
    std::fflush(stdout);
    if (const char* sleep = std::getenv("KESTREL_DOUBLE_SLEEP_MS"))
        Sleep(std::strtoul(sleep, nullptr, 10));
}
