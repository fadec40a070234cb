#include "MySUtils.h"
#include "WideText.h"

#include <vector>

namespace {
// wvsprintfW takes no buffer size and writes at most 1024 characters and the
// NUL, so the buffer has room for that whatever the pattern.
constexpr size_t FormatCapacity = 1025;
}

std::u16string FormatPattern(const std::u16string& pattern, std::initializer_list<int32_t> arguments)
{
    // One argument slot per argument, as a va_list holds them: 32-bit words in
    // the 32-bit build, 64-bit slots whose low half is read in the 64-bit one.
    std::vector<LONG_PTR> slots(arguments.begin(), arguments.end());
    std::vector<wchar_t> buffer(FormatCapacity);
    const int count = wvsprintfW(buffer.data(), Wide(pattern),
                                 slots.empty() ? nullptr : reinterpret_cast<va_list>(slots.data()));
    if (count < 0)
        return {};
    return TextOf(buffer.data(), static_cast<size_t>(count));
}
