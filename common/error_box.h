// The modal error box, captioned "Error", with a printf-style text.
#pragma once
#include <cstdarg>

// Text buffer of the box: the tool and the plug-in differ here.
#ifdef QV_PLUGIN_BUILD
constexpr int kErrorBoxTextSize = 520;
#else
constexpr int kErrorBoxTextSize = 512;
#endif

// Formats the text (cut to the buffer when it is longer) and shows it; comes
// back when the box is closed.
void show_error_box(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats into text[0..size-1] and always terminates it; a text that does not
// fit is cut. Returns the length written.
int bounded_format(char* text, int size, const char* format, va_list args);
