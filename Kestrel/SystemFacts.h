// The facts of one run, gathered once at start and only read afterwards.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
// Host builds of the platform-free code (the unit tests) have no windows.h;
// these have the platform's layouts.
struct SYSTEMTIME {
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct RECT {
    int32_t left, top, right, bottom;
};
#endif

struct SystemFacts {
    SYSTEMTIME LocalTime;
    std::u16string HourText;
    std::u16string MinuteText;
    std::u16string SystemDirectory;
    std::u16string ComputerName;
    std::u16string UserName;
    int32_t ScreenWidth;
    int32_t ScreenHeight;
    RECT WorkArea;
    std::u16string ProgramPath;
    std::u16string ReportPath;
};

// An hour or minute as two digits: '00' to '59'.
std::u16string ClockFieldText(uint16_t value);

SystemFacts GatherSystemFacts();
