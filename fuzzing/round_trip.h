// Load and save of settings text as a round trip: parse, write, parse the
// written text again and write it again. The writer's text is a fixed point of
// load and save except where the format cannot express what the document
// holds; those spots (hazards) are found from the first document and the
// pieces of its text, never guessed from a mismatch.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settings_document.h"

// Hazards of a written text, as bit flags.
enum : uint32_t {
  // A trailing text ends inside a line comment and more text follows it: the
  // next reading takes what follows, up to the next LF, as comment.
  kHazardOpenLineComment = 1u,
  // A trailing text ends with '-' right before a number written with a digit
  // first: the next reading takes the '-' as the number's sign (a decimal
  // turns negative, before a hexadecimal number the '-' is dropped).
  kHazardSignBeforeNumber = 2u,
  // A decimal 0 written right before 'x' and an upper-case hexadecimal digit
  // (its own trailing text, or a trailing "x" and the next number): the next
  // reading takes the bytes as one hexadecimal number.
  kHazardZeroBeforeHex = 4u,
};

// What one stretch of the written text is.
enum : int32_t { kPieceHead, kPieceString, kPieceNumber, kPieceSeparator, kPieceTrailing };

struct WrittenPiece {
  int32_t item;    // index of the item that wrote it
  int32_t kind;    // kPiece...
  int32_t offset;  // first byte in the text
  int32_t length;
};

// The text of the document laid out piece by piece, with the same decisions
// as the writer but written apart from it, so that the two can be compared.
std::string layout_text(const SettingsDocument& doc, std::vector<WrittenPiece>* pieces);

// The hazards of `text`, laid out in `pieces`; *where (when given) receives
// the offset of the first one, or -1.
uint32_t find_hazards(const std::string& text, const std::vector<WrittenPiece>& pieces, int32_t* where);

// Checks what the reader guarantees about any document it makes: items begin
// with a tag, the unnamed tag only at item 0, the values of each tag follow it
// and are strings or numbers, no two tags share a name (ASCII case ignored), a
// string holds no quote byte, a name no '>', a trailing text is not empty.
// Returns 1, or 0 with *message telling the first broken rule.
int check_document(const SettingsDocument& doc, std::string* message);

struct RoundTripResult {
  int ok;             // 1: every check held
  uint32_t hazards;   // hazards found in text1
  int32_t where;      // offset of the first hazard in text1, or -1
  std::string text1;  // written from the text
  std::string text2;  // written from text1
  std::string message;
};

// Parses `text` (NUL-terminated), writes text1 through MeasureText and
// WriteText into a block of exactly the measured size plus one, checks it
// against layout_text, parses text1 into a second document and writes text2,
// which must equal text1 unless text1 has a hazard. When it has one, and
// text2 has none, text2 must be a fixed point in its turn.
RoundTripResult check_round_trip(const char* text);

// The text with control bytes, quotes, backslashes and bytes above 126
// escaped, for failure messages.
std::string quoted(const std::string& text);
