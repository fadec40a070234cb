#include "Report.h"

#include "MySUtils.h"

std::u16string ClockFieldText(uint16_t value)
{
    std::u16string text = value < 10 ? u"0" : u"";
    return text + NumberText(value);
}

std::u16string ReportLine(const SystemFacts& facts, int line)
{
    const SYSTEMTIME& time = facts.LocalTime;
    const RECT& area = facts.WorkArea;
    switch (line) {
    case 1:
        return u"Today is " + NumberText(time.wDay) + u"/" + NumberText(time.wMonth) + u"/" +
               NumberText(time.wYear) + u"  at: " + facts.HourText + u":" + facts.MinuteText;
    case 3:
        return u"Windows UpTime: " + UpTimeText();
    case 5:
        return u"This File is " + facts.ReportPath;
    case 6:
        return u"Program: " + PathFileName(facts.ProgramPath);
    case 7:
        return u"Program Location: " + PathDirectory(facts.ProgramPath);
    case 8:
        return u"Computer Name: " + facts.ComputerName;
    case 9:
        return u"User Name: " + facts.UserName;
    case 10: // top, left, bottom, right: not the order of RECT's members
        return u"Screen Work Area - Top: " + NumberText(area.top) + u" Left: " + NumberText(area.left) +
               u" Bottom: " + NumberText(area.bottom) + u" Right: " + NumberText(area.right);
    case 11:
        return u"Screen Width: " + NumberText(facts.ScreenWidth) + u" x Height: " + NumberText(facts.ScreenHeight);
    default: // lines 2 and 4
        return {};
    }
}

std::string RuntimeErrorText(uint8_t code, uint32_t location)
{
    std::string text = "Runtime error     at 00000000";
    size_t position = 16;
    unsigned number = code;
    do {
        text[position--] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    position = 28;
    do {
        text[position--] = "0123456789ABCDEF"[location & 0xF];
        location >>= 4;
    } while (location != 0);
    return text;
}
