// Every text the tool shows: captions (English only), message texts in
// English and Russian (Windows-1251 bytes), and the box styles.
#pragma once

struct ToolText {
  const char* english;
  const char* russian;  // Windows-1251
};

// Box styles (MB_TOPMOST with an icon and the buttons).
constexpr unsigned kStyleError = 0x40010u;        // MB_TOPMOST | MB_ICONERROR, OK
constexpr unsigned kStyleInformation = 0x40040u;  // MB_TOPMOST | MB_ICONINFORMATION, OK
constexpr unsigned kStyleRetryCancel = 0x40035u;  // MB_TOPMOST | MB_ICONWARNING | MB_RETRYCANCEL

extern const char kCaptionTool[];     // "Quarn QV Internal Tool"
extern const char kCaptionProduct[];  // "Quarn QV"
extern const char kCaptionUpdate[];   // "Quarn QV Update"

extern const ToolText kTextWrongCommandLine;
extern const ToolText kTextPackInstalled;       // %s: the pack name
extern const ToolText kTextPackSaveFailed;      // %s: the pack name
extern const ToolText kTextPackNameHasQuote;    // %s: the pack name
extern const ToolText kTextCloseGame;
extern const ToolText kTextCloseLauncher;
extern const ToolText kTextUpdaterStartFailed;
extern const ToolText kTextFolderUnnamed;

// The text of the chosen language.
inline const char* tool_text(const ToolText& text, bool russian) { return russian ? text.russian : text.english; }
