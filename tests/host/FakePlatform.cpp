#include "FakePlatform.h"

#include "MySUtils.h"
#include "Report.h"

FakePlatform Fake;

std::string FakeFileBytes()
{
    std::string bytes;
    for (const std::string& block : Fake.Blocks)
        bytes += block;
    return bytes;
}

uint32_t CreateReportHandle(const std::u16string&, void*& handle)
{
    ++Fake.CreateCalls;
    if (Fake.CreateError != 0)
        return Fake.CreateError;
    Fake.HandleOpen = true;
    handle = &Fake;
    return 0;
}

uint32_t WriteReportBlock(void* handle, const uint8_t* bytes, uint32_t count)
{
    if (handle != &Fake || !Fake.HandleOpen)
        return 6; // ERROR_INVALID_HANDLE
    if (Fake.Blocks.size() + 1 == Fake.FailingBlock) {
        Fake.FailingBlock = 0;
        return Fake.WriteError;
    }
    Fake.Blocks.emplace_back(reinterpret_cast<const char*>(bytes), count);
    return 0;
}

uint32_t CloseReportHandle(void*)
{
    Fake.HandleOpen = false;
    return Fake.CloseError;
}

// Code page 1252 for the ASCII the tests use; anything else becomes '?'.
std::string AnsiBytes(uint32_t, const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text)
        bytes += c < 0x80 ? static_cast<char>(c) : '?';
    return bytes;
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
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u'd' && argument != arguments.end()) {
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
    return DurationText(Fake.TickCount);
}
