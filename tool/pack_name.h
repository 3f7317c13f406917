// Tests on pack names and setting values.
#pragma once

// 1 when the text holds the quote byte, which the settings format cannot carry.
int has_quote(const char* text);
