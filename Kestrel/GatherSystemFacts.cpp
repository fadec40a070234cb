#include "SystemFacts.h"

#include "MySUtils.h"
#include "WideText.h"

#include <vector>

namespace {

std::u16string SystemDirectoryText()
{
    // The first call, with room for nothing, tells the size the path needs.
    std::vector<wchar_t> buffer(4096, L'\0');
    const UINT needed = GetSystemDirectoryW(buffer.data(), 1);
    const UINT size = needed + 1 < buffer.size() ? needed + 1 : static_cast<UINT>(buffer.size());
    GetSystemDirectoryW(buffer.data(), size);
    return TextUpToNul(buffer.data(), buffer.size());
}

std::u16string ComputerNameText()
{
    // Zeroed, so that a failed call leaves the empty name.
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(buffer, &size);
    return TextUpToNul(buffer, MAX_COMPUTERNAME_LENGTH + 1);
}

std::u16string ProgramPathText()
{
    // A path that fills the buffer may have been cut, and a cut path can name
    // another directory: grow the buffer until the whole path fits. Paths end
    // at 32767 characters, so this ends too.
    for (std::vector<wchar_t> buffer(MAX_PATH + 1);; buffer.resize(buffer.size() * 2)) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return TextOf(buffer.data(), length);
    }
}

} // namespace

SystemFacts GatherSystemFacts()
{
    SystemFacts facts{};
    // First, so the report shows the moment the program started.
    GetLocalTime(&facts.LocalTime);
    facts.HourText = ClockFieldText(facts.LocalTime.wHour);
    facts.MinuteText = ClockFieldText(facts.LocalTime.wMinute);
    facts.SystemDirectory = SystemDirectoryText();
    facts.ComputerName = ComputerNameText();
    facts.UserName = CurrentUserName();
    facts.ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    facts.ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &facts.WorkArea, 0);
    facts.ProgramPath = ProgramPathText();
    facts.ReportPath = PathDirectory(facts.ProgramPath) + u"SInfo.txt";
    return facts;
}
