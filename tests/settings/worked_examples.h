// The writer's worked examples: a document (built by program, or read from a
// text and edited), the text it is written as, and that text's length.
#pragma once
#include <cstdint>

#include "settings_document.h"

struct WrittenExample {
  const char* name;
  void (*build)(SettingsDocument& document);
  const char* text;
  int32_t size;  // MeasureText; the saved file is one byte longer
};

extern const WrittenExample kWrittenExamples[];
extern const int kWrittenExampleCount;

// The document of the first worked example, built by program: <Packs> "A",
// "B", <Language> "Rus", <Flags> 0xFF, -5 and an <Empty> tag without values.
void build_by_program(SettingsDocument& document);

// The five-line settings file of the reader's worked example, without its NUL.
extern const char kFiveLineFile[];
