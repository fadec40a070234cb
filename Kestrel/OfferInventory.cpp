#include "Inventory.h"

#include "MySUtils.h"
#include "WideText.h"

#include <shellapi.h>

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
    ShellExecuteW(nullptr, L"open", Wide(facts.ReportPath), nullptr, nullptr, SW_SHOWNORMAL);
}
