// The reader's items and the writer's text, on the worked inputs and the
// edge cases of the format.
#include <gtest/gtest.h>

#include <string>

#include "item_dump.h"
#include "settings_document.h"
#include "worked_examples.h"

namespace {
struct ReadCase {
  const char* input;
  const char* items;
};

// Inputs and the items they give.
const ReadCase kReadCases[] = {
    {"<A> = 1\r\n<B> = 2\r\n<A> = 3\r\n",
     "0 tag \"A\" 1 \" = \"\n1 number 3 dec \"\\r\\n\"\n2 tag \"B\" 1 \" = \"\n3 number 2 dec \"\\r\\n\"\n"},
    {"<T> = -7, 0x10, -0x10, 007, 1.5, 5-3, 4294967295",
     "0 tag \"T\" 9 \" = \"\n1 number -7 dec \", \"\n2 number 16 hex \", \"\n3 number 16 hex \", \"\n"
     "4 number 7 dec \", \"\n5 number 1 dec \".\"\n6 number 5 dec \", \"\n7 number 5 dec\n"
     "8 number -3 dec \", \"\n9 number -1 dec\n"},
    {"<T> = \"a\"\"b\"", "0 tag \"T\" 2 \" = \"\n1 string \"a\"\n2 string \"b\"\n"},
    {"<T> = 1 { unfinished", "0 tag \"T\" 1 \" = \"\n1 number 1 dec \" { unfinished}\"\n"},
    {"{ note: 7 <x> }\r\n<T> = 1 // 2 \"q\"\r\n<U>",
     "0 tag \"\" 0 \"{ note: 7 <x> }\\r\\n\"\n1 tag \"T\" 1 \" = \"\n2 number 1 dec \" // 2 \\\"q\\\"\\r\\n\"\n"
     "3 tag \"U\" 0\n"},
    {"// {\r\n<T> = 1}\r\n<U> = 2",
     "0 tag \"\" 0 \"// {\\r\\n<T> = 1}\\r\\n\"\n1 tag \"U\" 1 \" = \"\n2 number 2 dec\n"},
    {"x = 5\r\n<T> = 1", "0 tag \"\" 1 \"x = \"\n1 number 5 dec \"\\r\\n\"\n2 tag \"T\" 1 \" = \"\n3 number 1 dec\n"},
    {"<T> = 1\r\n<> = 2\r\n",
     "0 tag \"\" 1 \" = \"\n1 number 2 dec \"\\r\\n\"\n2 tag \"T\" 1 \" = \"\n3 number 1 dec \"\\r\\n\"\n"},
    {"<T> = 1, 2\r\n<U> = 3\r\n<T>\r\n",
     "0 tag \"T\" 0 \"\\r\\n\"\n1 tag \"U\" 1 \" = \"\n2 number 3 dec \"\\r\\n\"\n"},
    // Edge cases of the reader.
    {"", ""},
    {"\r\n", "0 tag \"\" 0 \"\\r\\n\"\n"},
    {"<T> = 1\0<U> = 2", "0 tag \"T\" 1 \" = \"\n1 number 1 dec\n"},
    {"\"\"", "0 tag \"\" 1\n1 string \"\"\n"},
    {"<>", "0 tag \"\" 0\n"},
    {"<T> = \"", "0 tag \"T\" 0 \" = \"\n"},
    {"<T> = <", "0 tag \"T\" 0 \" = \"\n"},
    {"\xC0\xFF 5 \"\xE9\"", "0 tag \"\" 2 \"\\xC0\\xFF \"\n1 number 5 dec \" \"\n2 string \"\\xE9\"\n"},
    {"0X1F", "0 tag \"\" 2\n1 number 0 dec \"X\"\n2 number 1 dec \"F\"\n"},
    {"4294967295 2147483648", "0 tag \"\" 2\n1 number -1 dec \" \"\n2 number -2147483648 dec\n"},
    {"--2", "0 tag \"\" 1 \"-\"\n1 number -2 dec\n"},
    {"-0x1F", "0 tag \"\" 1\n1 number 31 hex\n"},
    {"<T> = 0xab", "0 tag \"T\" 1 \" = \"\n1 number 0 dec \"xab\"\n"},
    {"\"a//b\" <c//d> // e \"f\"", "0 tag \"\" 1\n1 string \"a//b\" \" \"\n2 tag \"c//d\" 0 \" // e \\\"f\\\"\"\n"},
    {"{ a // b } 1\n2", "0 tag \"\" 1 \"{ a // b } 1\\n\"\n1 number 2 dec\n"},
    {"<T> = \"abc", "0 tag \"T\" 1 \" = \"\n1 string \"abc\"\n"},
    {"<abc", "0 tag \"abc\" 0\n"},
};

struct WriteCase {
  const char* input;
  const char* text;
  int32_t size;
};

// Further texts read and written back without edits.
const WriteCase kWriteCases[] = {
    {"<A><B>", "<A>\r\n<B>", 8},
    {"<A>5", "<A> = 5", 7},
    {"x<>5", "x5", 2},
    {"<T> = \"", "<T> = ", 6},
    {"<T> = 0xff, 0x", "<T> = 0xff, 0x", 14},
    {"<T> = \"abc", "<T> = \"abc\"", 11},
    {"<abc", "<abc>", 5},
    {"", "", 0},
};

std::string parse_dump(const char* text) {
  SettingsDocument d;
  EXPECT_EQ(d.Parse(text), 1);
  return dump_items(d);
}
}  // namespace

TEST(Reader, GivesTheItemsOfEachInput) {
  for (const ReadCase& c : kReadCases) {
    EXPECT_EQ(parse_dump(c.input), c.items) << "input " << escape_text(c.input);
  }
}

TEST(Reader, ParseReplacesEarlierItems) {
  SettingsDocument d;
  d.Parse("<A> = 1, 2, 3");
  d.Parse("<B>");
  EXPECT_EQ(dump_items(d), "0 tag \"B\" 0\n");
}

TEST(Reader, PiecesFollowTheirRules) {
  EXPECT_EQ(SpanThrough("abc\"def", '"'), 4);
  EXPECT_EQ(SpanThrough("abc", '"'), 3);
  EXPECT_EQ(SpanThrough("", '>'), 0);
  bool open = true;
  EXPECT_EQ(ScanTrailingText(" = \"x\"", &open), 3);
  EXPECT_FALSE(open);
  EXPECT_EQ(ScanTrailingText(" { 1 \"2\" <3> -4 } 5", &open), 18);
  EXPECT_EQ(ScanTrailingText(" - x-1", &open), 4) << "a minus before a digit starts a token";
  EXPECT_EQ(ScanTrailingText(" { open", &open), 7);
  EXPECT_TRUE(open);
  EXPECT_EQ(ScanTrailingText("// { \n 1 } 2", &open), 11) << "a brace opened inside a line comment outlasts it";
  const char* text = "-12x";
  ParsedNumber n = ParseNumber(text + 1, text);
  EXPECT_EQ(n.value, -12);
  EXPECT_EQ(n.form, 0);
  EXPECT_EQ(n.length, 2);
  n = ParseNumber(text + 1, text + 1);
  EXPECT_EQ(n.value, 12) << "a number at the very start has no byte before it";
  text = "0xFFFFFFFF0";
  n = ParseNumber(text, text);
  EXPECT_EQ(n.value, -16) << "hexadecimal wraps in 32 bits";
  EXPECT_EQ(n.form, 1);
  EXPECT_EQ(n.length, 11);
}

TEST(Writer, WritesBackWhatWasRead) {
  for (const WriteCase& c : kWriteCases) {
    SettingsDocument d;
    d.Parse(c.input);
    EXPECT_EQ(d.MeasureText(), c.size) << "input " << escape_text(c.input);
    EXPECT_EQ(written_text(d), c.text) << "input " << escape_text(c.input);
  }
}

TEST(Writer, WorkedExamples) {
  for (int i = 0; i < kWrittenExampleCount; ++i) {
    const WrittenExample& e = kWrittenExamples[i];
    SettingsDocument d;
    e.build(d);
    EXPECT_EQ(d.MeasureText(), e.size) << e.name;
    EXPECT_EQ(written_text(d), e.text) << e.name;
  }
}

TEST(Writer, NumberForms) {
  SettingsDocument d;
  d.AddTag("T");
  d.InsertValue(0, kItemNumber, 1, -1, nullptr);
  d.InsertValue(0, kItemNumber, 1, 0, nullptr);
  d.InsertValue(0, kItemNumber, 2, 255, nullptr);
  d.InsertValue(0, kItemNumber, 0, INT32_MIN, nullptr);
  EXPECT_EQ(written_text(d), "<T> = 0xFFFFFFFF, 0x0, 255, -2147483648");
  SettingsDocument one;
  one.AddTag("T");
  EXPECT_EQ(written_text(one), "<T>") << "the last item gets no line end";
}

TEST(Writer, OutputReadsBackToItself) {
  for (const ReadCase& c : kReadCases) {
    SettingsDocument first;
    first.Parse(c.input);
    const std::string once = written_text(first);
    SettingsDocument second;
    second.Parse(once.c_str());
    EXPECT_EQ(written_text(second), once) << "input " << escape_text(c.input);
  }
}
