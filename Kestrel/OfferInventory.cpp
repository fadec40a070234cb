#include "Inventory.h"

#include "MySUtils.h"
#include "WideText.h"

#include <objbase.h>
#include <shellapi.h>

namespace {

// The shell may carry "open" out through COM objects, some of which need a
// single-threaded apartment; a packaged viewer (Windows 11's Notepad) is
// activated that way. Without an apartment, and without SEE_MASK_NOASYNC,
// Windows may finish the open on a thread of its own in this process, which
// ending the process right after would cut short. Whatever CoInitializeEx says
// (RPC_E_CHANGED_MODE included), the open goes ahead. A file the shell cannot
// open is not reported, by Kestrel or, with SEE_MASK_FLAG_NO_UI, by the shell,
// as with the plain ShellExecuteW: its result is not examined.
void OpenReport(const std::u16string& reportPath)
{
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = Wide(reportPath);
    open.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&open);
    if (SUCCEEDED(initialized))
        CoUninitialize();
}

} // namespace

void OfferInventory(const SystemFacts& facts)
{
    // Cancel is the default: a stray Enter must not start a long command.
    if (MessageBoxW(nullptr, Wide(SavePromptText), Wide(PromptCaption),
                    MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND) != IDOK)
        return;

    // cmd.exe by its full path, started in the system directory: neither it nor
    // systeminfo can then be one planted beside the program or in the current
    // directory, which "cd" without "/d" would not leave when on another drive.
    std::u16string command = InventoryCommand(facts.SystemDirectory, facts.ProgramPath);
    const std::u16string interpreter = CommandInterpreterPath(facts.SystemDirectory);
    if (!RunAndWait(command, interpreter.c_str(), facts.SystemDirectory.c_str()))
        return;

    if (MessageBoxW(nullptr, Wide(OpenPromptText), Wide(PromptCaption), MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    OpenReport(facts.ReportPath);
}
