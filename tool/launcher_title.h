// Which top-level windows belong to the launcher, by their title.
#pragma once

// Titles are read with a 128-byte buffer: at most 127 characters count.
constexpr int kWindowTitleSize = 128;

// 1 when the title begins with "Quarn QV" and holds "Launcher" after those
// 8 characters (both case-sensitive), else 0.
int is_launcher_title(const char* title);
