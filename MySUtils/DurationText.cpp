#include "MySUtils.h"

namespace {
constexpr uint64_t MillisecondsPerDay = 86400000;
constexpr uint64_t MillisecondsPerHour = 3600000;
constexpr uint64_t MillisecondsPerMinute = 60000;
constexpr uint64_t MillisecondsPerSecond = 1000;
}

std::u16string DurationText(uint64_t milliseconds)
{
    const uint64_t days = milliseconds / MillisecondsPerDay;
    uint64_t rest = milliseconds % MillisecondsPerDay;
    const auto hours = static_cast<int32_t>(rest / MillisecondsPerHour);
    rest %= MillisecondsPerHour;
    const auto minutes = static_cast<int32_t>(rest / MillisecondsPerMinute);
    rest %= MillisecondsPerMinute;
    const auto seconds = static_cast<int32_t>(rest / MillisecondsPerSecond);

    if (days == 0 && hours == 0 && minutes == 0)
        return FormatPattern(u"%dsec", {seconds});
    if (days == 0 && hours == 0)
        return FormatPattern(u"%dm %dsec", {minutes, seconds});
    if (days == 0)
        return FormatPattern(u"%dh %dm %dsec", {hours, minutes, seconds});
    return FormatPattern(u"%dd %dh %dm %dsec", {static_cast<int32_t>(days), hours, minutes, seconds});
}
