// The two switch actions that edit the product's settings file "qel.ini".
#pragma once

class SettingsDocument;

// "qel.ini" from the settings folder, or "#default#qel.ini" (renamed to
// "qel.ini" for the save) when "qel.ini" does not exist; none otherwise,
// also for a file that holds more than NUL bytes after its text. *unreadable
// is set to 1 when none comes back although a file was there.
SettingsDocument* open_product_settings(int* unreadable = nullptr);

// Adds the pack to the values of "Packs" and confirms it in a box.
void register_pack(const char* name);

// Sets the first value of "Language"; shows nothing.
void switch_language(const char* language);
