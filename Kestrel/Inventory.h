// The follow-up after the report: offer to append systeminfo's output, then
// offer to open the file.
#pragma once

#include "SystemFacts.h"

#include <string>

extern const char16_t PromptCaption[];
extern const char16_t SavePromptText[];
extern const char16_t OpenPromptText[];

// cmd.exe /C cd <system directory>& systeminfo >> "<program directory>SInfo.txt"
std::u16string InventoryCommand(const std::u16string& systemDirectory, const std::u16string& programPath);

// The interpreter by its full path, never one found beside the program.
std::u16string CommandInterpreterPath(const std::u16string& systemDirectory);

void OfferInventory(const SystemFacts& facts);
