// Closes a kernel handle (one that is null when absent) when it goes out of scope.
#pragma once

#include <windows.h>

struct HandleOwner {
    explicit HandleOwner(HANDLE handle) : Handle(handle) {}
    ~HandleOwner()
    {
        if (Handle != nullptr)
            CloseHandle(Handle);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    HANDLE Handle;
};
