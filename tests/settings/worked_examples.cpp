#include "worked_examples.h"

const char kFiveLineFile[] =
    "// settings\r\n<Language> = \"Rus\"\r\n<Packs> = \"A\", \"B\"\r\n<Width> = 800\r\n<Flags> = 0x1F\r\n";

void build_by_program(SettingsDocument& d) {
  const int32_t packs = d.AddTag("Packs");
  d.AppendString(packs, "A");
  d.AppendString(packs, "B");
  d.AppendString(d.AddTag("Language"), "Rus");
  const int32_t flags = d.AddTag("Flags");
  d.InsertValue(flags, kItemNumber, 1, 255, nullptr);
  d.InsertValue(flags, kItemNumber, 0, -5, nullptr);
  d.AddTag("Empty");
}

namespace {
void five_lines(SettingsDocument& d) { d.Parse(kFiveLineFile); }
void five_lines_plus_c(SettingsDocument& d) {
  d.Parse(kFiveLineFile);
  d.AppendString(d.FindTag("Packs"), "C");
}
void packs_values_removed(SettingsDocument& d) {
  d.Parse("<Packs> = \"A\", \"B\"\r\n<Language> = \"Rus\"");
  d.RemoveTagValues(d.FindTag("Packs"));
}
void numbers(SettingsDocument& d) { d.Parse("<T> = -7, 0x10, -0x10, 007, 1.5, 5-3, 4294967295"); }
void repeated_tag(SettingsDocument& d) { d.Parse("<A> = 1\r\n<B> = 2\r\n<A> = 3\r\n"); }
void adjacent_strings(SettingsDocument& d) { d.Parse("<T> = \"a\"\"b\""); }
void open_brace(SettingsDocument& d) { d.Parse("<T> = 1 { unfinished"); }
void unnamed_tag(SettingsDocument& d) {
  d.AddTag("");
  d.InsertValue(0, kItemNumber, 0, 5, nullptr);
  d.InsertValue(0, kItemNumber, 1, 10, nullptr);
  d.AddTag("T");
}
void empty_item(SettingsDocument& d) {
  d.AppendString(d.AddTag("T"), "A");
  d.InsertValue(0, kItemString, 0, 0, nullptr);
  d.AddTag("U");
}
void no_items(SettingsDocument&) {}
}  // namespace

const WrittenExample kWrittenExamples[] = {
    {"built by program", build_by_program,
     "<Packs> = \"A\", \"B\"\r\n<Language> = \"Rus\"\r\n<Flags> = 0xFF, -5\r\n<Empty>", 67},
    {"five-line file unchanged", five_lines, kFiveLineFile, 84},
    {"five-line file plus C", five_lines_plus_c,
     "// settings\r\n<Language> = \"Rus\"\r\n<Packs> = \"A\", \"B\", \"C\"\r\n<Width> = 800\r\n<Flags> = 0x1F\r\n", 89},
    {"values of Packs removed", packs_values_removed, "<Packs>\r\n<Language> = \"Rus\"", 27},
    {"numbers", numbers, "<T> = -7, 0x10, 0x10, 7, 1.5, 5, -3, -1", 39},
    {"repeated tag", repeated_tag, "<A> = 3\r\n<B> = 2\r\n", 18},
    {"adjacent strings", adjacent_strings, "<T> = \"a\", \"b\"", 14},
    {"open brace comment", open_brace, "<T> = 1 { unfinished}", 21},
    {"unnamed tag", unnamed_tag, "5, 0xA\r\n<T>", 11},
    {"empty item", empty_item, "<T> = \"A\", <U>", 14},
    {"no items", no_items, "", 0},
};
const int kWrittenExampleCount = sizeof kWrittenExamples / sizeof kWrittenExamples[0];
