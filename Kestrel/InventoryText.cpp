#include "Inventory.h"

#include "MySUtils.h"

const char16_t PromptCaption[] = u"Kestrel by Tamsworth - Norvale Software";

const char16_t SavePromptText[] = u"Get System Information?\n"
                                  u"Press OK to save system information to SInfo.txt\n"
                                  u"\n"
                                  u"File will be saved to the current program location";

const char16_t OpenPromptText[] = u"Open File\n"
                                  u"Do you want to open the saved file \"SysInfo.txt\"?\n"
                                  u"Press OK to Open the File";

std::u16string InventoryCommand(const std::u16string& systemDirectory, const std::u16string& programPath)
{
    // The report path is quoted, as program folders often hold spaces.
    return u"cmd.exe /C cd " + systemDirectory + u"& systeminfo >> \"" + PathDirectory(programPath) +
           u"SInfo.txt\"";
}

std::u16string CommandInterpreterPath(const std::u16string& systemDirectory)
{
    return systemDirectory + u"\\cmd.exe";
}
