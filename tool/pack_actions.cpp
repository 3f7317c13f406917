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
constexpr uint32_t kErrorInvalidData = 13;
}  // namespace

SettingsDocument* open_product_settings(int* unreadable) {
  // Without a full ANSI name of the game folder, the settings folder is
  // named relative to it: the current directory.
  const char* folder = base_directory[0] != '\0' ? format_temp("%s\\_QV3_Data\\%s", base_directory, "Settings")
                                                 : "_QV3_Data\\Settings";
  uint32_t error = 0;
  SettingsDocument* document = SettingsDocument::OpenFile("qel.ini", folder, &error);
  // Only a missing user file falls back to the defaults: a "qel.ini" that
  // exists but cannot be read must not be overwritten with them.
  if (document == nullptr && (error == kErrorFileNotFound || error == kErrorPathNotFound)) {
    document = SettingsDocument::OpenFile("#default#qel.ini", folder, &error);
    if (document != nullptr) copy_path(document->fileName, "qel.ini");
  }
  // A file whose text ends at a NUL byte with more after it (UTF-16, say)
  // is one this text model cannot keep: neither read nor written.
  if (document != nullptr && document->cutAtNul) {
    delete document;
    document = nullptr;
    error = kErrorInvalidData;
  }
  if (unreadable != nullptr) {
    *unreadable = document == nullptr && error != kErrorFileNotFound && error != kErrorPathNotFound;
  }
  return document;
}

void register_pack(const char* name) {
  if (has_quote(name)) {
    show_tool_box(kTextPackNameHasQuote, kCaptionProduct, kStyleError, name);
    return;
  }
  int unreadable = 0;
  SettingsDocument* document = open_product_settings(&unreadable);
  if (document == nullptr) {
    // Missing files end silently; one that is there and cannot be read is
    // a failure the user must hear of.
    if (unreadable) show_tool_box(kTextPackSaveFailed, kCaptionProduct, kStyleError, name);
    return;
  }
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
