// Stateless helpers of the report tool. Texts are UTF-16 and carry their own
// length; every function returns a new text and leaves its arguments alone.
// Positions in texts count from 1.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// Decimal text of value: an optional "-" and 1 to 19 digits, nothing else.
std::u16string NumberText(int64_t value);

// The first unit of the NUL-terminated chars equal to ch, or null. The
// terminator itself is compared first, so searching for NUL finds it.
const char16_t* ScanChar(const char16_t* chars, char16_t ch);

// Position of the last character of subject that is one of delimiters (read
// up to its first NUL); 0 when there is none. A NUL in subject never matches.
int32_t LastDelimiterIndex(const std::u16string& delimiters, const std::u16string& subject);

// "\" and ":" split a path; the forward slash does not.
std::u16string PathDirectory(const std::u16string& path); // up to and including the last delimiter
std::u16string PathFileName(const std::u16string& path);  // what follows the last delimiter

// The account the process runs as, or "Unknown" when it cannot be had
// (a name longer than 254 characters included).
std::u16string CurrentUserName();

// wvsprintfW over one 32-bit word per argument; the empty text on failure.
std::u16string FormatPattern(const std::u16string& pattern, std::initializer_list<int32_t> arguments);

// '1d 2h 3m 4sec': once a unit is shown every smaller one is too; leftover
// milliseconds are dropped. Day counts beyond 2^31-1 (millions of years)
// are outside what a 32-bit "%d" can print.
std::u16string DurationText(uint64_t milliseconds);

// DurationText of the time since the system started, from the 64-bit tick
// count, so it stays right past 49.7 days.
std::u16string UpTimeText();

// Starts commandLine (its buffer may be changed by the platform) and waits for
// it to end, at most RunWaitMilliseconds. True when the process was created,
// whether or not it ended in time. applicationName and currentDirectory are
// passed on when given: null means "found from the command line" and "the
// caller's current directory".
constexpr uint32_t RunWaitMilliseconds = 55500;
bool RunAndWait(std::u16string& commandLine, const char16_t* applicationName = nullptr,
                const char16_t* currentDirectory = nullptr);
