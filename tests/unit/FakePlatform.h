// Stand-ins for the Win32 calls under the platform-free code, so the unit
// tests can fail any block of the report and see what reached the file.
#pragma once

#include <cstdint>
#include <string>

struct FakePlatform {
    size_t FailingBlock = 0; // 1-based; 0: none fails
    uint32_t WriteError = 112;
    uint32_t CloseError = 0;
    size_t Blocks = 0;       // written so far
    std::string File;        // their bytes
};

extern FakePlatform Fake;

// Thrown in place of ending the process.
struct HaltedWithRuntimeError {
    uint8_t Code;
    uint32_t Location;
};
