#include "Inventory.h"

#include <gtest/gtest.h>

TEST(InventoryCommand, ChangesToTheSystemDirectoryAndAppendsToTheQuotedReport)
{
    EXPECT_EQ(InventoryCommand(u"C:\\Windows\\system32", u"C:\\Tools\\Kestrel\\Kestrel.exe"),
              u"cmd.exe /C cd C:\\Windows\\system32& systeminfo >> \"C:\\Tools\\Kestrel\\SInfo.txt\"");
    EXPECT_EQ(InventoryCommand(u"C:\\WINDOWS\\system32", u"D:\\My Files\\Kestrel.exe"),
              u"cmd.exe /C cd C:\\WINDOWS\\system32& systeminfo >> \"D:\\My Files\\SInfo.txt\"");
    EXPECT_EQ(CommandInterpreterPath(u"C:\\Windows\\system32"), u"C:\\Windows\\system32\\cmd.exe");
}
