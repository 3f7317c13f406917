// The round-trip check that the fuzz target runs, on crafted inputs: each
// hazard is shown to be real (text2 differs from text1) and to be found, near
// misses are shown to be no hazard, and the seed corpus passes.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "round_trip.h"
#include "worked_examples.h"

namespace {
struct HazardCase {
  const char* input;
  const char* text1;
  uint32_t hazard;
  bool differs;  // text2 differs from text1
};

TEST(RoundTrip, HazardsAreFoundAndReal) {
  const HazardCase cases[] = {
      // A repeated tag takes the comment at the end of the file away from the
      // end; the '{' inside the tag name that the comment swallows then opens
      // a brace comment, which the next reading closes with '}'.
      {"<A>1<{>2<A>3 //x", "<A> = 3 //x<{> = 2", kHazardOpenLineComment, true},
      // The same with a string whose LF ends the swallowing comment midway.
      {"<A>1<B>\"p\nq\"<A>3 //x", "<A> = 3 //x<B> = \"p\nq\"", kHazardOpenLineComment, true},
      // "//" inside a brace comment left open at the end: the reader adds
      // '}', and the line comment stays open.
      {"<A>1<{>2<A>3 {//x", "<A> = 3 {//x}<{> = 2", kHazardOpenLineComment, true},
      // The unnamed tag brought to the front by "<>" with a final comment.
      {"<A>\"{\"<>5 //x", "5 //x<A> = \"{\"", kHazardOpenLineComment, true},
      // Swallowed bytes that come back verbatim: found all the same.
      {"<A>1<B>2<A>3 //x", "<A> = 3 //x<B> = 2", kHazardOpenLineComment, false},
      {"<A>-<B>2<A>5", "<A>-5\r\n<B> = 2", kHazardSignBeforeNumber, true},
      {"<A>-<B>2<A>0x5", "<A>-0x5\r\n<B> = 2", kHazardSignBeforeNumber, true},
      {"<A>\"s\"-<B>2<A>7", "<A>-7\r\n<B> = 2", kHazardSignBeforeNumber, true},
      // 00 is a decimal 0 followed by the free text "x0A".
      {"<T>00x0A", "<T> = 0x0A", kHazardZeroBeforeHex, true},
      {"<T>00xA", "<T> = 0xA", kHazardZeroBeforeHex, false},
      // A trailing "x" and then a number of its own.
      {"<T>00x0", "<T> = 0x0", kHazardZeroBeforeHex, false},
      // A decimal that wraps to 0.
      {"<T>4294967296x0A", "<T> = 0x0A", kHazardZeroBeforeHex, true},
  };
  for (const HazardCase& c : cases) {
    SCOPED_TRACE(quoted(c.input));
    const RoundTripResult r = check_round_trip(c.input);
    EXPECT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(r.text1, c.text1);
    EXPECT_EQ(r.hazards, c.hazard);
    EXPECT_EQ(r.text2 != r.text1, c.differs) << "text2 " << quoted(r.text2);
  }
}

TEST(RoundTrip, NearMissesAreNoHazard) {
  // clang-format off: the inputs grouped by what they try
  const char* inputs[] = {
      "// settings\r\n<Language> = \"Rus\"\r\n<Packs> = \"A\", \"B\"\r\n<Width> = 800\r\n<Flags> = 0x1F\r\n",
      // The comment at the end stays at the end.
      "<A> = 1 //x",
      "<A>1<B>2<A>3 //x\n",
      "<A>1<B>2<A>3 {//x\n}",
      // A '-' before a negative number stays free text.
      "<A>-<B>2<A>-5",
      // A hexadecimal 0 before "xA", a decimal 10 before "xA", a 0 before "xa".
      "<T>0x0xA", "<T>10xA", "<T>00xa", "<T>0xg", "<T>-0x1FFFFFFFF",
      // Comment marks inside strings and names.
      "<T//> = \"//\", \"{\"\r\n<U> = 1",
      // A quote and a '<' left open at the end.
      "<A> = 1\r\n<B> = \"open", "<A> = 1\r\n<B", "<A>1<B>2<A>\"open",
      "--2, 5-3, 1.5", "\x80\xFF\xC0 = \"\xE0\xE1\"", "\r\n", "", "<>", "\"",
  };
  // clang-format on
  for (const char* input : inputs) {
    SCOPED_TRACE(quoted(input));
    const RoundTripResult r = check_round_trip(input);
    EXPECT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(r.hazards, 0u) << "at " << r.where;
    EXPECT_EQ(r.text2, r.text1);
  }
}

TEST(RoundTrip, LayoutMatchesWriterOnBuiltDocument) {
  SettingsDocument doc;
  build_by_program(doc);
  doc.InsertValue(doc.FindTag("Empty"), kItemString, 0, 0, nullptr);  // an empty item writes nothing
  doc.AddTag("Last");
  std::vector<WrittenPiece> pieces;
  const std::string text = layout_text(doc, &pieces);
  EXPECT_EQ(text, "<Packs> = \"A\", \"B\"\r\n<Language> = \"Rus\"\r\n<Flags> = 0xFF, -5\r\n<Empty> = <Last>");
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces[0].kind, kPieceHead);
  EXPECT_EQ(pieces[0].length, 7);
  EXPECT_EQ(pieces.back().offset, static_cast<int32_t>(text.size()) - 6);
  EXPECT_EQ(doc.MeasureText(), static_cast<int32_t>(text.size()));
}

TEST(RoundTrip, HazardOffsetsPointAtTheSpot) {
  int32_t where = -2;
  const std::string text = "<A>-5\r\n<B> = 2";
  const std::vector<WrittenPiece> pieces = {{0, kPieceHead, 0, 3},   {0, kPieceTrailing, 3, 1},
                                            {1, kPieceNumber, 4, 1}, {1, kPieceSeparator, 5, 2},
                                            {2, kPieceHead, 7, 3},   {2, kPieceSeparator, 10, 3},
                                            {3, kPieceNumber, 13, 1}};
  EXPECT_EQ(find_hazards(text, pieces, &where), kHazardSignBeforeNumber);
  EXPECT_EQ(where, 3);
  const std::vector<WrittenPiece> none = {{0, kPieceHead, 0, 3}};
  EXPECT_EQ(find_hazards(text, none, &where), 0u);
  EXPECT_EQ(where, -1);
}

TEST(RoundTrip, SeedCorpusPasses) {
  DIR* dir = opendir(QV_FUZZ_CORPUS);
  ASSERT_NE(dir, nullptr) << QV_FUZZ_CORPUS;
  int files = 0;
  for (dirent* entry; (entry = readdir(dir)) != nullptr;) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(std::string(QV_FUZZ_CORPUS) + "/" + entry->d_name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    SCOPED_TRACE(entry->d_name);
    const RoundTripResult r = check_round_trip(bytes.str().c_str());
    EXPECT_EQ(r.ok, 1) << r.message;
    ++files;
  }
  closedir(dir);
  EXPECT_GE(files, 12);
}
}  // namespace
