// The record files that the stand-ins leave for the tests to read.
#pragma once

// Appends the line and CR LF to the file, creating it when missing; the file
// is shared while open, so a test may read it at any time.
void append_record_line(const char* path, const char* line);
