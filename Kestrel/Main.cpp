// Kestrel: writes a snapshot of this machine to SInfo.txt beside the program.
#include "Report.h"
#include "SystemFacts.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Taken once, so every line of the report is in the same code page.
    const UINT codePage = GetACP();
    const SystemFacts facts = GatherSystemFacts();
    WriteReport(facts, codePage);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
