// Kestrel: writes a snapshot of this machine to SInfo.txt beside the program.
#include "Inventory.h"
#include "Report.h"
#include "SystemFacts.h"

#include <windows.h>

namespace {

// DLLs that the message boxes and the shell load later must come from the
// system directory, not from the program's folder (often Downloads). Looked up
// by name so that systems without the call still start.
void RestrictDllSearch()
{
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return;
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    // Taken once, so every line of the report is in the same code page.
    const UINT codePage = GetACP();
    const SystemFacts facts = GatherSystemFacts();
    if (WriteReport(facts, codePage))
        OfferInventory(facts);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
