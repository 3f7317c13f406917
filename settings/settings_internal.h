// Helpers shared by the settings library's own files.
#pragma once
#include <cstdint>

#include "settings_document.h"

// A guarded copy of the text (length bytes and a terminator).
char* copy_text(const char* text, uint32_t length);
char* copy_text(const char* text);
// A cleared item of the kind, in a guarded block.
SettingsItem* new_item(uint8_t kind);
// Releases the item's texts and the item.
void release_item(SettingsItem* item);
