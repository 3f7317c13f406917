// The tool's language switch: sets the first value of the tag "Language".
#include "guarded_alloc.h"
#include "settings_document.h"
#include "settings_internal.h"

void SettingsDocument::SetLanguage(const char* language) {
  const int32_t tag = FindTag("Language");
  if (tag != -1 && GetValueCount(tag) > 0) {
    SettingsItem* first = items.At(tag + 1);
    if (first->kind == kItemString && language != nullptr) {
      guarded_free(first->value.text);
      first->value.text = copy_text(language);
    }
    return;
  }
  AppendString(AddTag("Language"), language);
}
