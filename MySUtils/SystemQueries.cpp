#include "MySUtils.h"
#include "WideText.h"

std::u16string CurrentUserName()
{
    wchar_t buffer[256] = {};
    DWORD size = 255;
    if (!GetUserNameW(buffer, &size) || size == 0)
        return u"Unknown";
    return TextOf(buffer, size - 1);
}

std::u16string UpTimeText()
{
    return DurationText(GetTickCount64());
}
