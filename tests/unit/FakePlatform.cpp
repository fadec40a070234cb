#include "FakePlatform.h"

#include "MySUtils.h"
#include "Report.h"

FakePlatform Fake;

uint32_t CreateReportHandle(const std::u16string&, void*& handle)
{
    handle = &Fake;
    return 0;
}

uint32_t WriteReportBlock(void*, const uint8_t* bytes, uint32_t count)
{
    if (++Fake.Blocks == Fake.FailingBlock)
        return Fake.WriteError;
    Fake.File.append(reinterpret_cast<const char*>(bytes), count);
    return 0;
}

uint32_t CloseReportHandle(void*)
{
    return Fake.CloseError;
}

// Enough of code page 1252 for the ASCII the tests use.
std::string AnsiBytes(uint32_t, const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

void HaltWithRuntimeError(uint8_t code, uint32_t location)
{
    throw HaltedWithRuntimeError{code, location};
}

// wvsprintfW as far as the unit's own patterns go: "%d" and plain characters.
std::u16string FormatPattern(const std::u16string& pattern, std::initializer_list<int32_t> arguments)
{
    std::u16string text;
    auto argument = arguments.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 2, u"%d") == 0) {
            text += NumberText(*argument++);
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::u16string UpTimeText()
{
    return u"2d 4h 17m 9sec";
}
