// The settings text reader: strings, numbers and tags become items; every
// other byte (spacing, separators, line ends, comments) is kept verbatim as
// the trailing text of the item before it.
#include <cstring>

#include "guarded_alloc.h"
#include "settings_document.h"
#include "settings_internal.h"

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of an upper-case hexadecimal digit, or -1.
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

int32_t SpanThrough(const char* text, char delimiter) {
  int32_t i = 0;
  for (; text[i] != '\0'; ++i) {
    if (text[i] == delimiter) return i + 1;
  }
  return i;
}

int32_t ScanTrailingText(const char* text, bool* open_brace) {
  bool line = false;
  bool brace = false;
  *open_brace = false;
  int32_t i = 0;
  for (;; ++i) {
    const char c = text[i];
    if (c == '\0') {
      *open_brace = brace;
      return i;
    }
    if (c == '\n') {
      line = false;
    } else if (c == '"' || c == '<' || is_digit(c) || (c == '-' && is_digit(text[i + 1]))) {
      if (!line && !brace) return i;
    } else if (c == '/' && text[i + 1] == '/') {
      line = true;
    } else if (c == '{') {
      brace = true;
    } else if (c == '}') {
      brace = false;
    }
  }
}

ParsedNumber ParseNumber(const char* text, const char* text_start) {
  ParsedNumber result{0, 0, 0};
  if (text[0] == '0' && text[1] == 'x' && hex_digit(text[2]) >= 0) {
    uint32_t value = 0;
    int32_t i = 2;
    for (int d; (d = hex_digit(text[i])) >= 0; ++i) value = value * 16u + static_cast<uint32_t>(d);
    result.value = static_cast<int32_t>(value);
    result.form = 1;
    result.length = i;
    return result;
  }
  // "0x" without a hexadecimal digit after it is the decimal 0; the "x"
  // then starts free text, so the number is written back as it was read.
  uint32_t value = 0;
  int32_t i = 0;
  for (; is_digit(text[i]); ++i) value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  if (text > text_start && text[-1] == '-') value = 0u - value;
  result.value = static_cast<int32_t>(value);
  result.form = 0;
  result.length = i;
  return result;
}

int SettingsDocument::Parse(const char* text) {
  Clear();
  int32_t tag = -1;
  int32_t receiver = -1;
  const char* at = text;
  // Values before the first tag belong to the unnamed tag at item 0.
  auto ensure_tag = [&]() {
    if (tag == -1) {
      tag = AddTag("");
      RemoveTagValues(tag);
    }
  };
  while (*at != '\0') {
    const char c = *at;
    if (c == '"' || c == '<') {
      ++at;
      const int32_t n = SpanThrough(at, c == '"' ? '"' : '>');
      if (n == 0) continue;  // the delimiter was the last byte: nothing
      // A closing byte is left out; an unclosed string or name keeps every
      // byte up to the end of the text.
      const bool closed = at[n - 1] == (c == '"' ? '"' : '>');
      char* body = copy_text(at, static_cast<uint32_t>(closed ? n - 1 : n));
      if (c == '"') {
        ensure_tag();
        // The new value takes the copy as its own text.
        receiver = InsertValue(tag, kItemEmpty, 0, 0, nullptr);
        SettingsItem* item = items.At(receiver);
        item->kind = kItemString;
        item->value.text = body;
      } else {
        tag = AddTag(body);
        receiver = tag;
        RemoveTagValues(tag);
        guarded_free(body);
      }
      at += n;
    } else if (c == '-' && is_digit(at[1])) {
      ++at;
    } else if (is_digit(c)) {
      const ParsedNumber number = ParseNumber(at, text);
      ensure_tag();
      receiver = InsertValue(tag, kItemNumber, number.form, number.value, nullptr);
      at += number.length;
    } else {
      bool open_brace = false;
      const int32_t n = ScanTrailingText(at, &open_brace);
      if (receiver == -1) {
        tag = AddTag("");
        receiver = tag;
      }
      SettingsItem* item = items.At(receiver);
      guarded_free(item->trailing);
      item->trailing = copy_text(at, static_cast<uint32_t>(n + (open_brace ? 1 : 0)));
      if (open_brace) item->trailing[n] = '}';
      at += n;
    }
  }
  return 1;
}
