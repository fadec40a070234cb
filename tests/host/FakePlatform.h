// Stand-ins for the Win32 calls under the platform-free code, so the unit
// tests can drive the report writer and see every block it hands over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakePlatform {
    uint32_t CreateError = 0;      // returned by the next creation
    int CreateCalls = 0;
    bool HandleOpen = false;
    std::vector<std::string> Blocks; // every block handed to the file, in order
    size_t FailingBlock = 0;         // 1-based block that fails; 0: none
    uint32_t WriteError = 112;
    uint32_t CloseError = 0;
    uint64_t TickCount = 0;
};

extern FakePlatform Fake;

// Thrown in place of ending the process.
struct HaltedWithRuntimeError {
    uint8_t Code;
    uint32_t Location;
};

// The bytes the file holds: every block that was written.
std::string FakeFileBytes();
