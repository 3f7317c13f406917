// The tool's process-wide state and its box edge.
#pragma once
#include "messages.h"
#include "text.h"

// The game folder: the current directory at start, written once; its short
// name where the ANSI code page cannot name it exactly, "" where it has no
// ANSI name at all (the tool then goes by paths relative to the current
// directory).
extern char base_directory[kPathSize];

// True when the Russian texts are to be shown; asked afresh for every box.
bool is_russian_ui();

// Shows a modal box without owner: the text in the language of
// is_russian_ui, formatted with `argument` in place of %s when the text has
// one. Returns the button chosen (IDOK 1, IDCANCEL 2, IDRETRY 4), 0 on failure.
int show_tool_box(const ToolText& text, const char* caption, unsigned style, const char* argument);
