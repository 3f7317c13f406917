#include "pack_actions.h"

#include <cstdint>
#include <cstring>

#include "messages.h"
#include "pack_name.h"
#include "settings_document.h"
#include "text.h"
#include "tool_state.h"

namespace {
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
}  // namespace

SettingsDocument* open_product_settings() {
  const char* folder = format_temp("%s\\_QV3_Data\\%s", base_directory, "Settings");
  uint32_t error = 0;
  SettingsDocument* document = SettingsDocument::OpenFile("qel.ini", folder, &error);
  if (document != nullptr) return document;
  // Only a missing user file falls back to the defaults: a "qel.ini" that
  // exists but cannot be read must not be overwritten with them.
  if (error != kErrorFileNotFound && error != kErrorPathNotFound) return nullptr;
  document = SettingsDocument::OpenFile("#default#qel.ini", folder);
  if (document == nullptr) return nullptr;
  copy_path(document->fileName, "qel.ini");
  return document;
}

void register_pack(const char* name) {
  if (has_quote(name)) {
    show_tool_box(kTextPackNameHasQuote, kCaptionProduct, kStyleError, name);
    return;
  }
  SettingsDocument* document = open_product_settings();
  if (document == nullptr) return;
  const int32_t tag = document->FindTag("Packs");
  if (tag < 0) {
    delete document;
    return;
  }
  int matched = 0;
  const int32_t count = document->GetValueCount(tag);
  for (int32_t i = 0; i < count && !matched; ++i) {
    if (ascii_stricmp(name, document->GetString(tag, i)) == 0) matched = 1;
  }
  int saved = 1;
  if (!matched) {
    document->AppendString(tag, name);
    saved = document->Save();
  }
  if (saved) {
    show_tool_box(kTextPackInstalled, kCaptionProduct, kStyleInformation, name);
  } else {
    show_tool_box(kTextPackSaveFailed, kCaptionProduct, kStyleError, name);
  }
  delete document;
}

void switch_language(const char* language) {
  if (has_quote(language)) return;
  SettingsDocument* document = open_product_settings();
  if (document == nullptr) return;
  document->SetLanguage(language);
  document->Save();
  delete document;
}
