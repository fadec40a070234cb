// UTF-16 texts handed to and taken from the wide Win32 calls.
#pragma once

#include <windows.h>

#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 units");

inline const wchar_t* Wide(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline const wchar_t* Wide(const char16_t* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

inline std::u16string TextOf(const wchar_t* chars, size_t count)
{
    return std::u16string(reinterpret_cast<const char16_t*>(chars), count);
}

// A buffer filled by the platform, read up to its first NUL.
inline std::u16string TextUpToNul(const wchar_t* chars, size_t capacity)
{
    size_t count = 0;
    while (count < capacity && chars[count] != L'\0')
        ++count;
    return TextOf(chars, count);
}
