// Starts the program whose full Windows path is its one argument, waits for it
// and returns its exit code. Wine's CreateProcess cannot start a program whose
// path is MAX_PATH characters or longer; the native calls under it can.
#include <windows.h>
#include <winternl.h>

#include <shellapi.h>

#include <string>

extern "C" NTSTATUS NTAPI RtlCreateProcessParametersEx(RTL_USER_PROCESS_PARAMETERS**, UNICODE_STRING*,
                                                       UNICODE_STRING*, UNICODE_STRING*, UNICODE_STRING*, void*,
                                                       UNICODE_STRING*, UNICODE_STRING*, UNICODE_STRING*,
                                                       UNICODE_STRING*, ULONG);
extern "C" NTSTATUS NTAPI RtlCreateUserProcess(UNICODE_STRING*, ULONG, RTL_USER_PROCESS_PARAMETERS*, void*, void*,
                                               HANDLE, BOOLEAN, HANDLE, HANDLE, void*);

int main()
{
    int count = 0;
    const std::wstring path = CommandLineToArgvW(GetCommandLineW(), &count)[1], ntPath = L"\\??\\" + path;
    UNICODE_STRING image, ntImage;
    RtlInitUnicodeString(&image, path.c_str());
    RtlInitUnicodeString(&ntImage, ntPath.c_str());
    RTL_USER_PROCESS_PARAMETERS* parameters = nullptr;
    struct {
        ULONG Length;
        HANDLE Process, Thread;
        BYTE Rest[256];
    } process = {sizeof process, nullptr, nullptr, {}};
    if (RtlCreateProcessParametersEx(&parameters, &image, nullptr, nullptr, &image, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, 1 /* normalized */) != 0 ||
        RtlCreateUserProcess(&ntImage, OBJ_CASE_INSENSITIVE, parameters, nullptr, nullptr, nullptr, FALSE, nullptr,
                             nullptr, &process) != 0)
        return 254;
    ResumeThread(process.Thread);
    WaitForSingleObject(process.Process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.Process, &code);
    return static_cast<int>(code);
}
