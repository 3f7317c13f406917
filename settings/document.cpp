// The document model: construction, tags, values and their removal.
#include <cstring>

#include "guarded_alloc.h"
#include "settings_document.h"
#include "settings_internal.h"

namespace {
const char kEmptyText[1] = {'\0'};
}  // namespace

char* copy_text(const char* text, uint32_t length) {
  char* copy = static_cast<char*>(guarded_alloc(length + 1));
  if (length > 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

char* copy_text(const char* text) { return copy_text(text, static_cast<uint32_t>(std::strlen(text))); }

SettingsItem* new_item(uint8_t kind) {
  SettingsItem* item = static_cast<SettingsItem*>(guarded_alloc(sizeof(SettingsItem)));
  std::memset(item, 0, sizeof *item);
  item->kind = kind;
  return item;
}

void release_item(SettingsItem* item) {
  guarded_free(item->trailing);
  item->trailing = nullptr;
  if (item->kind == kItemString || item->kind == kItemTag) guarded_free(item->value.text);
  item->value.number = 0;
  item->value.text = nullptr;
  item->kind = kItemEmpty;
  guarded_free(item);
}

SettingsDocument::SettingsDocument() : items{nullptr, 0, 0}, fileName{}, directory{}, lastError(0), cutAtNul(false) {}

SettingsDocument::~SettingsDocument() { Clear(); }

void SettingsDocument::Clear() {
  for (int32_t i = 0; i < items.count; ++i) release_item(items.At(i));
  items.SetCount(0);
}

int32_t SettingsDocument::FindTag(const char* name) const {
  if (name == nullptr) return -1;
  // A linear walk from the front. A tag is followed directly by its values,
  // none of which is a tag, so the walk steps from tag to tag.
  for (int32_t i = 0; i < items.count;) {
    const SettingsItem* item = items.At(i);
    if (item->kind != kItemTag) {
      ++i;
      continue;
    }
    if (item->value.text != nullptr && ascii_stricmp(item->value.text, name) == 0) return i;
    i += 1 + (item->extra > 0 ? item->extra : 0);
  }
  return -1;
}

int32_t SettingsDocument::AddTag(const char* name) {
  const int32_t found = FindTag(name);
  if (found != -1) return found;
  if (name == nullptr) return -1;
  SettingsItem* tag = new_item(kItemTag);
  tag->value.text = copy_text(name);
  if (name[0] != '\0') {
    items.Add(tag);
    return items.LastIndex();
  }
  // The unnamed tag is always item 0.
  items.InsertAt(0, tag);
  return 0;
}

int32_t SettingsDocument::RemoveTagValues(int32_t t) {
  if (t < 0 || t >= items.count || items.At(t)->kind != kItemTag) return 0;
  SettingsItem* tag = items.At(t);
  const int32_t n = tag->extra;
  if (n <= 0) return 1;
  // The text that ended the last value's line now ends the tag's line.
  SettingsItem* last = items.At(t + n);
  guarded_free(tag->trailing);
  tag->trailing = last->trailing;
  last->trailing = nullptr;
  for (int32_t i = t + 1; i <= t + n; ++i) release_item(items.At(i));
  items.RemoveAt(t + 1, n);
  tag->extra = 0;
  return 1;
}

int32_t SettingsDocument::InsertValue(int32_t t, int kind, int32_t extra, int32_t number, const char* text) {
  if (t < 0 || t >= items.count || items.At(t)->kind != kItemTag) return -1;
  SettingsItem* item = new_item(static_cast<uint8_t>(kind));
  if (kind == kItemString) {
    if (text != nullptr) {
      item->value.text = copy_text(text);
    } else {
      item->kind = kItemEmpty;
    }
  } else {
    item->value.number = number;
  }
  item->extra = extra;
  SettingsItem* tag = items.At(t);
  items.InsertAt(t + tag->extra + 1, item);
  tag->extra += 1;
  return t + tag->extra;
}

int32_t SettingsDocument::AppendString(int32_t t, const char* text) {
  const int32_t r = InsertValue(t, kItemString, 0, 0, text);
  if (r == -1) return -1;
  // The new last value takes over the text that ended the tag's line.
  SettingsItem* previous = items.At(r - 1);
  items.At(r)->trailing = previous->trailing;
  previous->trailing = nullptr;
  return r;
}

int32_t SettingsDocument::GetValueCount(int32_t t) const {
  if (t < 0 || t >= items.count || items.At(t)->kind != kItemTag) return -1;
  return items.At(t)->extra;
}

const char* SettingsDocument::GetString(int32_t t, int32_t k) const {
  if (t < 0 || t >= items.count || items.At(t)->kind != kItemTag) return kEmptyText;
  if (k < 0 || k >= items.At(t)->extra) return kEmptyText;
  const SettingsItem* item = items.At(t + 1 + k);
  if (item->kind != kItemString) return kEmptyText;
  return item->value.text;
}
