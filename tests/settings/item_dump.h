// A one-line-per-item text form of a document, for tests and golden files:
//   <index> tag <name> <value count> [trailing]
//   <index> number <value> <dec|hex> [trailing]
//   <index> string <text> [trailing]
//   <index> empty [trailing]
// Texts are written in double quotes with \r, \n, \t, \\, \" and \xHH escapes.
#pragma once
#include <string>

#include "settings_document.h"

std::string escape_text(const char* text);
std::string dump_items(const SettingsDocument& document);
// The document's written text (without the final NUL); also checks that the
// writer filled exactly MeasureText bytes and then one NUL.
std::string written_text(const SettingsDocument& document);
