#include "item_dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

std::string escape_text(const char* text) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    switch (*p) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (*p < 0x20 || *p >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", *p);
          out += hex;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out + "\"";
}

std::string dump_items(const SettingsDocument& document) {
  std::string out;
  for (int32_t i = 0; i < document.items.count; ++i) {
    const SettingsItem* item = document.items.At(i);
    out += std::to_string(i);
    switch (item->kind) {
      case kItemTag: out += " tag " + escape_text(item->value.text) + " " + std::to_string(item->extra); break;
      case kItemNumber:
        out += " number " + std::to_string(item->value.number) + (item->extra == 1 ? " hex" : " dec");
        break;
      case kItemString: out += " string " + escape_text(item->value.text); break;
      default: out += " empty";
    }
    if (item->trailing != nullptr) out += " " + escape_text(item->trailing);
    out += "\n";
  }
  return out;
}

std::string written_text(const SettingsDocument& document) {
  const int32_t n = document.MeasureText();
  std::vector<char> block(static_cast<size_t>(n) + 16, '#');
  EXPECT_EQ(document.WriteText(block.data()), 1);
  EXPECT_EQ(block[static_cast<size_t>(n)], '\0') << "the text is followed by one NUL";
  EXPECT_EQ(block[static_cast<size_t>(n) + 1], '#') << "nothing past MeasureText + 1";
  EXPECT_EQ(std::strlen(block.data()), static_cast<size_t>(n)) << "MeasureText agrees with WriteText";
  return std::string(block.data(), static_cast<size_t>(n));
}
