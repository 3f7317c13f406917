// The two switch actions that edit the product's settings file "qel.ini".
#pragma once

class SettingsDocument;

// "qel.ini" from the settings folder, or "#default#qel.ini" (renamed to
// "qel.ini" for the save) when "qel.ini" does not exist; none otherwise.
SettingsDocument* open_product_settings();

// Adds the pack to the values of "Packs" and confirms it in a box.
void register_pack(const char* name);

// Sets the first value of "Language"; shows nothing.
void switch_language(const char* language);
