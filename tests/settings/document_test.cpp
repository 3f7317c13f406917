// The settings document model: tags, values, the unnamed tag, removal and the
// item array's growth rule.
#include <gtest/gtest.h>

#include <string>

#include "item_dump.h"
#include "settings_document.h"

namespace {
constexpr int32_t kRef = static_cast<int32_t>(sizeof(SettingsItem*));

SettingsDocument* parsed(const char* text) {
  SettingsDocument* d = new SettingsDocument();
  d->Parse(text);
  return d;
}
}  // namespace

TEST(Document, ConstructsEmpty) {
  SettingsDocument d;
  EXPECT_EQ(d.items.count, 0);
  EXPECT_EQ(d.items.data, nullptr);
  EXPECT_EQ(d.items.capacityBytes, 0);
  EXPECT_STREQ(d.fileName, "");
  EXPECT_STREQ(d.directory, "");
  EXPECT_EQ(d.lastError, 0u);
}

TEST(Document, AddsTagsAndAppendsStrings) {
  SettingsDocument d;
  EXPECT_EQ(d.AddTag("Packs"), 0);
  EXPECT_EQ(d.AppendString(0, "A"), 1);
  EXPECT_EQ(d.AppendString(0, "B"), 2);
  EXPECT_EQ(d.GetValueCount(0), 2);
  EXPECT_STREQ(d.GetString(0, 0), "A");
  EXPECT_STREQ(d.GetString(0, 1), "B");
  EXPECT_EQ(d.AddTag(nullptr), -1);
  EXPECT_EQ(d.FindTag(nullptr), -1);
  EXPECT_EQ(d.FindTag("Language"), -1);
}

TEST(Document, TagNamesFoldOnlyAsciiLetters) {
  SettingsDocument d;
  d.AddTag("Packs");
  EXPECT_EQ(d.AddTag("packs"), 0) << "the existing tag is returned";
  EXPECT_STREQ(d.items.At(0)->value.text, "Packs") << "and keeps its own letter case";
  EXPECT_EQ(d.items.count, 1);
  EXPECT_EQ(d.FindTag("PACKS"), 0);
  // Cyrillic "Пак" and "пак" in Windows-1251 differ beyond ASCII: two tags.
  const int32_t upper = d.AddTag("\xCF\xE0\xEA");
  const int32_t lower = d.AddTag("\xEF\xE0\xEA");
  EXPECT_NE(upper, lower);
  EXPECT_EQ(d.items.count, 3);
}

TEST(Document, UnnamedTagIsAlwaysItemZero) {
  SettingsDocument d;
  d.AddTag("A");
  d.AppendString(0, "x");
  d.AddTag("B");
  EXPECT_EQ(d.AddTag(""), 0);
  EXPECT_EQ(dump_items(d),
            "0 tag \"\" 0\n"
            "1 tag \"A\" 1\n"
            "2 string \"x\"\n"
            "3 tag \"B\" 0\n");
  EXPECT_EQ(d.AddTag(""), 0) << "a second call finds it";
  EXPECT_EQ(d.items.count, 4);
}

TEST(Document, ValueOperationsRefuseWhatIsNotATag) {
  SettingsDocument d;
  d.AddTag("T");
  d.InsertValue(0, kItemNumber, 0, 5, nullptr);
  const std::string before = dump_items(d);
  EXPECT_EQ(d.InsertValue(1, kItemNumber, 0, 1, nullptr), -1) << "index of a value";
  EXPECT_EQ(d.AppendString(1, "x"), -1);
  EXPECT_EQ(d.InsertValue(2, kItemNumber, 0, 1, nullptr), -1) << "out of range";
  EXPECT_EQ(d.InsertValue(-1, kItemNumber, 0, 1, nullptr), -1);
  EXPECT_EQ(d.AppendString(7, "x"), -1);
  EXPECT_EQ(d.GetValueCount(1), -1);
  EXPECT_EQ(d.GetValueCount(-3), -1);
  EXPECT_EQ(d.RemoveTagValues(1), 0);
  EXPECT_EQ(d.RemoveTagValues(9), 0);
  EXPECT_EQ(dump_items(d), before) << "nothing changed";
}

TEST(Document, GetStringNeverGivesNone) {
  SettingsDocument d;
  d.AddTag("T");
  d.InsertValue(0, kItemNumber, 0, 42, nullptr);
  d.InsertValue(0, kItemString, 0, 0, nullptr);  // an empty item
  d.AppendString(0, "s");
  EXPECT_EQ(d.GetValueCount(0), 3) << "the empty item counts as a value";
  EXPECT_EQ(d.items.At(2)->kind, kItemEmpty);
  EXPECT_STREQ(d.GetString(0, 0), "") << "a number";
  EXPECT_STREQ(d.GetString(0, 1), "") << "an empty item";
  EXPECT_STREQ(d.GetString(0, 2), "s");
  EXPECT_STREQ(d.GetString(0, 3), "") << "k equal to the count";
  EXPECT_STREQ(d.GetString(0, -1), "");
  EXPECT_STREQ(d.GetString(1, 0), "") << "not a tag";
  EXPECT_STREQ(d.GetString(99, 0), "");
}

TEST(Document, RemoveTagValuesMovesTheLastValuesTrailingText) {
  SettingsDocument* d = parsed("<Packs>\r\n<Language> = \"Rus\", \"Eng\" // two\r\n<X>");
  EXPECT_EQ(d->RemoveTagValues(0), 1) << "a tag without values";
  EXPECT_EQ(d->items.At(0)->trailing[0], '\r') << "keeps its trailing text";
  EXPECT_EQ(d->RemoveTagValues(1), 1);
  EXPECT_EQ(dump_items(*d),
            "0 tag \"Packs\" 0 \"\\r\\n\"\n"
            "1 tag \"Language\" 0 \" // two\\r\\n\"\n"
            "2 tag \"X\" 0\n");
  delete d;
}

TEST(Document, AppendStringTakesOverTheLineEnd) {
  SettingsDocument* d = parsed("<Packs>\r\n<X> = 1");
  EXPECT_EQ(d->AppendString(0, "C"), 1);
  EXPECT_EQ(written_text(*d), "<Packs> = \"C\"\r\n<X> = 1");
  delete d;
}

TEST(Document, ClearKeepsNameDirectoryAndError) {
  SettingsDocument* d = parsed("<A> = 1, \"x\" // c\r\n<B>");
  std::snprintf(d->fileName, sizeof d->fileName, "qel.ini");
  std::snprintf(d->directory, sizeof d->directory, "C:\\Game");
  d->lastError = 32;
  d->Clear();
  EXPECT_EQ(d->items.count, 0);
  EXPECT_EQ(d->items.data, nullptr);
  EXPECT_EQ(d->items.capacityBytes, 0);
  EXPECT_STREQ(d->fileName, "qel.ini");
  EXPECT_STREQ(d->directory, "C:\\Game");
  EXPECT_EQ(d->lastError, 32u);
  delete d;
}

TEST(ItemArray, GrowsAndShrinksInStepsOfSixteenReferences) {
  ItemArray a{nullptr, 0, 0};
  SettingsItem* marker = reinterpret_cast<SettingsItem*>(&a);
  for (int i = 1; i <= 16; ++i) {
    a.Add(marker);
    EXPECT_EQ(a.capacityBytes, 16 * kRef) << "count " << i;
  }
  SettingsItem** block16 = a.data;
  a.Add(marker);
  EXPECT_EQ(a.count, 17);
  EXPECT_EQ(a.capacityBytes, 32 * kRef);
  for (int i = 17; i < 32; ++i) EXPECT_EQ(a.data[i], nullptr) << "the room a growth adds is zeroed";
  for (int i = 0; i < 17; ++i) EXPECT_EQ(a.data[i], marker);
  a.RemoveAt(16, 1);
  EXPECT_EQ(a.count, 16);
  EXPECT_EQ(a.capacityBytes, 16 * kRef) << "from 17 back to 16 reallocates";
  (void)block16;
  a.SetCount(0);
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.capacityBytes, 0);
}

TEST(ItemArray, InsertsAndRemovesInPlace) {
  ItemArray a{nullptr, 0, 0};
  SettingsItem* r[5];
  for (int i = 0; i < 5; ++i) r[i] = reinterpret_cast<SettingsItem*>(static_cast<uintptr_t>(0x100 * (i + 1)));
  a.Add(r[0]);
  a.Add(r[1]);
  a.InsertAt(0, r[2]);
  a.InsertAt(3, r[3]);  // count appends
  a.InsertAt(5, r[4]);  // beyond count: nothing
  a.InsertAt(-1, r[4]);
  ASSERT_EQ(a.count, 4);
  EXPECT_EQ(a.At(0), r[2]);
  EXPECT_EQ(a.At(1), r[0]);
  EXPECT_EQ(a.At(2), r[1]);
  EXPECT_EQ(a.At(3), r[3]);
  EXPECT_EQ(a.LastIndex(), 3);
  a.RemoveAt(1, 10);  // limited to the rest
  EXPECT_EQ(a.count, 1);
  a.RemoveAt(1, 1);  // out of range: nothing
  a.RemoveAt(0, 0);
  EXPECT_EQ(a.count, 1);
  a.RemoveAt(0, 1);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(a.data, nullptr);
}

namespace {
// The text written after SetLanguage("Rus") on the document read from `text`.
std::string with_language_rus(const char* text) {
  SettingsDocument d;
  d.Parse(text);
  d.SetLanguage("Rus");
  return written_text(d);
}
}  // namespace

TEST(SetLanguage, ReplacesOnlyTheFirstStringValue) {
  EXPECT_EQ(with_language_rus("<Language> = \"Eng\", \"Deu\" // two\r\n<Packs>"),
            "<Language> = \"Rus\", \"Deu\" // two\r\n<Packs>");
  EXPECT_EQ(with_language_rus("<Language> = \"Eng\" // keep\r\n"), "<Language> = \"Rus\" // keep\r\n")
      << "the trailing text stays";
}

TEST(SetLanguage, LeavesANumberAlone) { EXPECT_EQ(with_language_rus("<Language> = 7\r\n"), "<Language> = 7\r\n"); }

TEST(SetLanguage, AddsTheTagWhenMissingOrEmpty) {
  EXPECT_EQ(with_language_rus("<Packs> = \"A\"\r\n"), "<Packs> = \"A\"\r\n<Language> = \"Rus\"");
  EXPECT_EQ(with_language_rus("<Language>\r\n<Packs>"), "<Language> = \"Rus\"\r\n<Packs>");
}
