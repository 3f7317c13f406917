#include "round_trip.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_upper_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F'); }

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool same_name(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (lower_ascii(*a) != lower_ascii(*b)) return false;
    if (*a == '\0') return true;
  }
}

std::string format_number(const SettingsItem* item) {
  char number[16];
  if (item->extra == 1) {
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(item->value.number));
  } else {
    std::snprintf(number, sizeof number, "%d", static_cast<int>(item->value.number));
  }
  return number;
}

// Appends one piece to the text and records where it stands.
void put(std::string* text, std::vector<WrittenPiece>* pieces, int32_t item, int32_t kind, const std::string& piece) {
  pieces->push_back(WrittenPiece{item, kind, static_cast<int32_t>(text->size()), static_cast<int32_t>(piece.size())});
  *text += piece;
}

// The comment state at the end of text[from, to) under the reader's rules:
// line and brace comments are tracked apart, "//" opens a line comment that
// LF ends, '{' opens a brace comment that the first '}' ends, whichever kind
// is open already. A look at the byte after a '/' may reach past `to`, as the
// reader's own look does.
void comment_state(const std::string& text, int32_t from, int32_t to, bool* line, bool* brace) {
  *line = false;
  *brace = false;
  for (int32_t i = from; i < to; ++i) {
    const char c = text[static_cast<size_t>(i)];
    if (c == '\n') {
      *line = false;
    } else if (c == '/' && static_cast<size_t>(i) + 1 < text.size() && text[static_cast<size_t>(i) + 1] == '/') {
      *line = true;
    } else if (c == '{') {
      *brace = true;
    } else if (c == '}') {
      *brace = false;
    }
  }
}

// Writes the document through the library: MeasureText, then WriteText into a
// heap block of exactly that size plus one, so that the address sanitizer sees
// any byte written past it.
int write_document(const SettingsDocument& doc, std::string* text, std::string* message) {
  const int32_t n = doc.MeasureText();
  if (n < 0) {
    *message = "MeasureText gave " + std::to_string(n);
    return 0;
  }
  std::unique_ptr<char[]> block(new char[static_cast<size_t>(n) + 1]);
  std::memset(block.get(), 0x7F, static_cast<size_t>(n) + 1);
  const int written = doc.WriteText(block.get());
  if (written != 1) {
    *message = "WriteText gave " + std::to_string(written);
    return 0;
  }
  if (block[static_cast<size_t>(n)] != '\0') {
    *message = "WriteText left no NUL after the measured " + std::to_string(n) + " bytes";
    return 0;
  }
  const size_t length = std::strlen(block.get());
  if (length != static_cast<size_t>(n)) {
    *message = "WriteText wrote a text of " + std::to_string(length) + " bytes, MeasureText counted " +
               std::to_string(n);
    return 0;
  }
  text->assign(block.get(), length);
  return 1;
}

// Writes the document, checks the text against layout_text and finds its
// hazards.
int write_and_inspect(const SettingsDocument& doc, const char* label, std::string* text, uint32_t* hazards,
                      int32_t* where, std::string* message) {
  if (!check_document(doc, message)) {
    *message = std::string(label) + ": document: " + *message;
    return 0;
  }
  if (!write_document(doc, text, message)) {
    *message = std::string(label) + ": " + *message;
    return 0;
  }
  std::vector<WrittenPiece> pieces;
  const std::string laid_out = layout_text(doc, &pieces);
  if (laid_out != *text) {
    *message = std::string(label) + ": the writer gave " + quoted(*text) + ", the layout of the items is " +
               quoted(laid_out);
    return 0;
  }
  for (const WrittenPiece& piece : pieces) {
    if (piece.kind != kPieceTrailing) continue;
    bool line = false;
    bool brace = false;
    comment_state(*text, piece.offset, piece.offset + piece.length, &line, &brace);
    if (brace) {
      *message = std::string(label) + ": the trailing text of item " + std::to_string(piece.item) +
                 " ends inside a brace comment";
      return 0;
    }
  }
  *hazards = find_hazards(*text, pieces, where);
  return 1;
}
}  // namespace

std::string layout_text(const SettingsDocument& doc, std::vector<WrittenPiece>* pieces) {
  std::string text;
  pieces->clear();
  const int32_t count = doc.items.count;
  int32_t tag = -1;
  for (int32_t i = 0; i < count; ++i) {
    const SettingsItem* item = doc.items.At(i);
    const bool last = i + 1 == count;
    if (item->kind == kItemTag) {
      tag = i;
      // The unnamed tag has no head and no separator of its own.
      if (item->value.text != nullptr && item->value.text[0] != '\0') {
        put(&text, pieces, i, kPieceHead, std::string("<") + item->value.text + ">");
        if (item->trailing == nullptr && item->extra > 0) put(&text, pieces, i, kPieceSeparator, " = ");
        if (item->trailing == nullptr && item->extra <= 0 && !last) put(&text, pieces, i, kPieceSeparator, "\r\n");
      }
    } else if (item->kind == kItemString || item->kind == kItemNumber) {
      if (item->kind == kItemString) {
        put(&text, pieces, i, kPieceString, std::string("\"") + item->value.text + "\"");
      } else {
        put(&text, pieces, i, kPieceNumber, format_number(item));
      }
      const int32_t values = tag >= 0 ? doc.items.At(tag)->extra : 0;
      const int32_t position = i - (tag >= 0 ? tag : 0);  // 1 for the tag's first value
      if (item->trailing == nullptr && position < values) put(&text, pieces, i, kPieceSeparator, ", ");
      if (item->trailing == nullptr && position >= values && !last) put(&text, pieces, i, kPieceSeparator, "\r\n");
    }
    if (item->trailing != nullptr) put(&text, pieces, i, kPieceTrailing, item->trailing);
  }
  return text;
}

uint32_t find_hazards(const std::string& text, const std::vector<WrittenPiece>& pieces, int32_t* where) {
  uint32_t hazards = 0;
  int32_t first = -1;
  auto note = [&](uint32_t hazard, int32_t offset) {
    hazards |= hazard;
    if (first == -1 || offset < first) first = offset;
  };
  const int32_t size = static_cast<int32_t>(text.size());
  auto at = [&](int32_t offset) { return offset >= 0 && offset < size ? text[static_cast<size_t>(offset)] : '\0'; };
  for (const WrittenPiece& piece : pieces) {
    const int32_t end = piece.offset + piece.length;
    if (piece.kind == kPieceTrailing && end < size) {
      // A trailing text that was last in the file may end inside a line
      // comment; once it is no longer last, the comment runs on into what
      // follows it.
      bool line = false;
      bool brace = false;
      comment_state(text, piece.offset, end, &line, &brace);
      if (line) note(kHazardOpenLineComment, piece.offset);
    }
    if (piece.kind == kPieceNumber) {
      // A '-' that stood before a tag or a string is free text; before a
      // number that begins with a digit it is read as the number's sign. A
      // written negative number brings its own '-', which keeps the one
      // before it free text.
      if (is_digit(at(piece.offset)) && at(piece.offset - 1) == '-') note(kHazardSignBeforeNumber, piece.offset - 1);
      // A decimal 0 followed by "x" that is not a hexadecimal prefix stays a
      // decimal 0 only while no upper-case hexadecimal digit follows the x.
      if (piece.length == 1 && at(piece.offset) == '0' && at(end) == 'x' && is_upper_hex(at(end + 1))) {
        note(kHazardZeroBeforeHex, piece.offset);
      }
    }
  }
  if (where != nullptr) *where = first;
  return hazards;
}

int check_document(const SettingsDocument& doc, std::string* message) {
  const int32_t count = doc.items.count;
  if (count > 0 && doc.items.At(0)->kind != kItemTag) {
    *message = "item 0 is not a tag";
    return 0;
  }
  std::vector<const char*> names;
  for (int32_t i = 0; i < count;) {
    const SettingsItem* tag = doc.items.At(i);
    const std::string where = "item " + std::to_string(i);
    if (tag->kind != kItemTag || tag->value.text == nullptr) {
      *message = where + " should be a tag with a name";
      return 0;
    }
    if (tag->value.text[0] == '\0' && i != 0) {
      *message = where + " is the unnamed tag";
      return 0;
    }
    if (std::strchr(tag->value.text, '>') != nullptr) {
      *message = where + " has a name holding '>'";
      return 0;
    }
    for (const char* name : names) {
      if (same_name(name, tag->value.text)) {
        *message = where + " repeats the tag " + quoted(name);
        return 0;
      }
    }
    names.push_back(tag->value.text);
    if (tag->extra < 0 || tag->extra > count - 1 - i) {
      *message = where + " claims " + std::to_string(tag->extra) + " values";
      return 0;
    }
    for (int32_t k = i; k <= i + tag->extra; ++k) {
      const SettingsItem* item = doc.items.At(k);
      if (k > i && item->kind != kItemString && item->kind != kItemNumber) {
        *message = "value item " + std::to_string(k) + " has kind " + std::to_string(item->kind);
        return 0;
      }
      if (item->kind == kItemString && std::strchr(item->value.text, '"') != nullptr) {
        *message = "string item " + std::to_string(k) + " holds a quote byte";
        return 0;
      }
      if (item->trailing != nullptr && item->trailing[0] == '\0') {
        *message = "item " + std::to_string(k) + " has an empty trailing text";
        return 0;
      }
    }
    i += 1 + tag->extra;
  }
  return 1;
}

RoundTripResult check_round_trip(const char* text) {
  RoundTripResult result{0, 0, -1, std::string(), std::string(), std::string()};
  SettingsDocument first;
  first.Parse(text);
  if (!write_and_inspect(first, "first document", &result.text1, &result.hazards, &result.where, &result.message)) {
    return result;
  }
  SettingsDocument second;
  second.Parse(result.text1.c_str());
  uint32_t hazards2 = 0;
  int32_t where2 = -1;
  if (!write_and_inspect(second, "second document", &result.text2, &hazards2, &where2, &result.message)) {
    return result;
  }
  if (result.hazards == 0) {
    if (result.text2 != result.text1) {
      result.message = "text2 differs from text1 and text1 has no hazard";
      return result;
    }
    result.ok = 1;
    return result;
  }
  // text1 is not expected back, but text2 without a hazard is a writer's
  // text like any other and must survive a load and save unchanged.
  if (hazards2 == 0) {
    SettingsDocument third;
    third.Parse(result.text2.c_str());
    std::string text3;
    uint32_t hazards3 = 0;
    int32_t where3 = -1;
    if (!write_and_inspect(third, "third document", &text3, &hazards3, &where3, &result.message)) return result;
    if (text3 != result.text2) {
      result.message = "text3 " + quoted(text3) + " differs from text2, which has no hazard";
      return result;
    }
  }
  result.ok = 1;
  return result;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 32 || b > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
