// The settings text writer. Each item writes its own text, then its trailing
// text verbatim or, when it has none, a generated separator. One walk serves
// both the measuring and the writing pass, so their results always agree.
#include <cstring>

#include "settings_document.h"

namespace {
// Appends pieces to a block, or only counts them when the block is none.
struct TextSink {
  char* block;
  int32_t length;

  void Put(const char* text, int32_t n) {
    if (block != nullptr) std::memcpy(block + length, text, static_cast<size_t>(n));
    length += n;
  }
  void Put(const char* text) { Put(text, static_cast<int32_t>(std::strlen(text))); }
  void PutChar(char c) { Put(&c, 1); }
};

// "0x%X" (upper-case digits, no leading zeros) or "%d" of the value; returns
// the length. Done by hand: it runs twice for every number of a document.
int format_number(char* out, int32_t value, bool hexadecimal) {
  char digits[12];
  int count = 0;
  int length = 0;
  if (hexadecimal) {
    uint32_t v = static_cast<uint32_t>(value);
    do {
      digits[count++] = "0123456789ABCDEF"[v & 15u];
      v >>= 4;
    } while (v != 0);
    out[length++] = '0';
    out[length++] = 'x';
  } else {
    uint32_t v = static_cast<uint32_t>(value);
    if (value < 0) {
      out[length++] = '-';
      v = 0u - v;
    }
    do {
      digits[count++] = static_cast<char>('0' + v % 10u);
      v /= 10u;
    } while (v != 0);
  }
  while (count > 0) out[length++] = digits[--count];
  return length;
}

void write_items(const ItemArray& items, TextSink& out) {
  const SettingsItem* tag = nullptr;
  int32_t tag_index = 0;
  for (int32_t i = 0; i < items.count; ++i) {
    const SettingsItem* item = items.At(i);
    const bool has_next = i + 1 < items.count;
    if (item->kind == kItemTag) {
      tag = item;
      tag_index = i;
      if (item->value.text != nullptr && item->value.text[0] != '\0') {
        out.PutChar('<');
        out.Put(item->value.text);
        out.PutChar('>');
        if (item->trailing == nullptr) {
          if (item->extra > 0) {
            out.Put(" = ");
          } else if (has_next) {
            out.Put("\r\n");
          }
        }
      }
    } else if (item->kind == kItemString || item->kind == kItemNumber) {
      if (item->kind == kItemString) {
        out.PutChar('"');
        out.Put(item->value.text);
        out.PutChar('"');
      } else {
        char number[16];
        const int n = format_number(number, item->value.number, item->extra == 1);
        out.Put(number, n);
      }
      if (item->trailing == nullptr) {
        const int32_t values = tag != nullptr ? tag->extra : 0;
        if (i - tag_index < values) {
          out.Put(", ");
        } else if (has_next) {
          out.Put("\r\n");
        }
      }
    }
    if (item->trailing != nullptr) out.Put(item->trailing);
  }
}
}  // namespace

int32_t SettingsDocument::MeasureText() const {
  TextSink sink{nullptr, 0};
  write_items(items, sink);
  return sink.length;
}

int SettingsDocument::WriteText(char* block) const {
  TextSink sink{block, 0};
  write_items(items, sink);
  block[sink.length] = '\0';
  return 1;
}
