// The pack folders the host publishes: writable texts and the array of their
// addresses, as "QV.PackDirs" wants them, and the checks of what the plug-in
// switched off.
#pragma once
#include <cstdint>

struct PackDir {
  const char* text;  // none: an entry that names no folder
  bool fonts;        // its name begins with "eng+rus fonts" (any case)
  bool own;          // its name begins with "GrandPack_Rus" (any case)
};

struct PackList {
  const PackDir* dirs;
  int count;
};

// Sixteen folders: matches and near misses of both prefixes.
extern const PackList kStandardPacks;
// Two own folders around an entry that is none.
extern const PackList kPacksWithNone;

// Which folders the plug-in must have switched off.
enum Blank { kBlankNone, kBlankFonts, kBlankOwn };

// Fresh texts and array for `list`; gives the array's address.
uint32_t fill_pack_dirs(const PackList& list);
// Publishes "QV.ExeVersion", then the standard folders and their count.
void publish_standard(int32_t version, int32_t count);
// Checks every entry of the last filled list: blanked ("?", the rest of its
// bytes as before) exactly when `blank` says so, else byte for byte unchanged;
// the array entries unchanged.
void check_pack_dirs(Blank blank, const char* what);
// The texts of the last filled list that now read "?" (for printing); gives
// how many were put into `texts`.
int switched_off(const char* texts[], int room);
