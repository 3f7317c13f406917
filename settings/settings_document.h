// The settings file in memory: one ordered list of items (tags, their values,
// and the verbatim text that followed each item in the file), with the
// reader and the writer that turn it into text and back.
#pragma once
#include <cstdint>

#include "text.h"

// Item kinds; the writer treats any other code as it treats an empty item.
enum : uint8_t { kItemEmpty = 0, kItemNumber = 2, kItemString = 3, kItemTag = 4 };

// One guarded block per item.
struct SettingsItem {
  union {
    int32_t number;  // kind 2: the signed value
    char* text;      // kind 3: the string; kind 4: the tag name (owned)
  } value;           // kind 0: zero
  uint8_t kind;
  int32_t extra;   // tag: its number of values; number: 1 = hexadecimal form
  char* trailing;  // owned text written right after the item, or none
};

// Growable array of item references, in steps of 16 references.
struct ItemArray {
  SettingsItem** data;
  int32_t count;
  int32_t capacityBytes;

  static constexpr int32_t kStepReferences = 16;

  void SetCount(int32_t n);
  void Add(SettingsItem* item);
  void InsertAt(int32_t i, SettingsItem* item);
  void RemoveAt(int32_t i, int32_t n);
  int32_t LastIndex() const { return count - 1; }
  SettingsItem*& At(int32_t i) { return data[i]; }
  SettingsItem* At(int32_t i) const { return data[i]; }
};

class SettingsDocument {
 public:
  ItemArray items;
  char fileName[kPathSize];   // last component of the name last loaded or saved
  char directory[kPathSize];  // folder that was current for that load or save
  uint32_t lastError;         // Windows error code of the last failed file operation
  bool cutAtNul;              // the file last loaded held other bytes after its first NUL byte:
                              // its text was cut there, and a save would lose the rest

  SettingsDocument();
  ~SettingsDocument();
  SettingsDocument(const SettingsDocument&) = delete;
  SettingsDocument& operator=(const SettingsDocument&) = delete;

  // Model.
  void Clear();
  int32_t FindTag(const char* name) const;
  int32_t AddTag(const char* name);
  int32_t RemoveTagValues(int32_t tag);
  // Kind 3 takes `text` (none gives an empty item); other kinds take `number`.
  int32_t InsertValue(int32_t tag, int kind, int32_t extra, int32_t number, const char* text);
  int32_t AppendString(int32_t tag, const char* text);
  int32_t GetValueCount(int32_t tag) const;
  const char* GetString(int32_t tag, int32_t k) const;
  // Sets the first value of the tag "Language" (the tool's language switch).
  void SetLanguage(const char* language);

  // Reader.
  int Parse(const char* text);
  // Windows build only: files. OpenFile gives a new document, or none; when
  // `error` is given it receives the Windows error code of a failed load
  // (0 when the load succeeded or failed without one).
  static SettingsDocument* OpenFile(const char* name, const char* folder, uint32_t* error = nullptr);
  int LoadFile(const char* name, const char* folder);

  // Writer.
  int32_t MeasureText() const;
  int WriteText(char* block) const;
  // Windows build only: files.
  int SaveFile(const char* name, const char* folder);
  int Save();
};

// Reader pieces, exposed for tests.
struct ParsedNumber {
  int32_t value;
  int32_t form;    // 0 decimal, 1 hexadecimal
  int32_t length;  // bytes read
};
// `text` starts with a digit; `text_start` is the start of the whole text, so
// that the byte before the number can be looked at for a sign.
ParsedNumber ParseNumber(const char* text, const char* text_start);
// Bytes of free text from `text`; *open_brace is set when the text ends
// inside a brace comment.
int32_t ScanTrailingText(const char* text, bool* open_brace);
// Bytes up to and including the first `delimiter`, or up to the end.
int32_t SpanThrough(const char* text, char delimiter);
