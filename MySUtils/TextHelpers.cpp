#include "MySUtils.h"

namespace {
constexpr char16_t PathDelimiters[] = u"\\:";
}

std::u16string NumberText(int64_t value)
{
    // Negating in unsigned arithmetic keeps the most negative value exact.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char digits[21];
    char* start = digits + sizeof digits;
    do {
        *--start = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--start = '-';
    return std::u16string(start, digits + sizeof digits);
}

const char16_t* ScanChar(const char16_t* chars, char16_t ch)
{
    for (;; ++chars) {
        if (*chars == ch)
            return chars;
        if (*chars == u'\0')
            return nullptr;
    }
}

int32_t LastDelimiterIndex(const std::u16string& delimiters, const std::u16string& subject)
{
    for (auto i = static_cast<int32_t>(subject.size()); i > 0; --i) {
        const char16_t c = subject[static_cast<size_t>(i) - 1];
        if (c != u'\0' && ScanChar(delimiters.c_str(), c) != nullptr)
            return i;
    }
    return 0;
}

std::u16string PathDirectory(const std::u16string& path)
{
    return path.substr(0, static_cast<size_t>(LastDelimiterIndex(PathDelimiters, path)));
}

std::u16string PathFileName(const std::u16string& path)
{
    return path.substr(static_cast<size_t>(LastDelimiterIndex(PathDelimiters, path)));
}
