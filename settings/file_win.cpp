// Loading settings files (Windows). Names are ANSI at the interface and
// UTF-16 underneath (wide_path_win.h); the save is in save_win.cpp.
#include <windows.h>

#include "file_access_win.h"
#include "guarded_alloc.h"
#include "settings_document.h"

int SettingsDocument::LoadFile(const char* name, const char* folder) {
  WidePath path;
  if (!record_folder(folder, directory, &lastError) || !full_wide_path(folder, name, &path, &lastError)) return 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD open_error = 0;
  const auto open_shared = [&] {
    file = CreateFileW(path.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    return file != INVALID_HANDLE_VALUE;
  };
  if (!retry_while_locked(open_shared, &open_error)) {
    lastError = open_error;
    return 0;
  }
  DWORD size = 0;
  if (!held_size(file, &size, &lastError)) {
    CloseHandle(file);
    return 0;
  }
  copy_path(fileName, path_file_part(name));
  char* block = static_cast<char*>(guarded_alloc(size + 1));
  DWORD read = 0;
  const BOOL ok = ReadFile(file, block, size, &read, nullptr);
  if (!ok) lastError = GetLastError();
  CloseHandle(file);
  if (ok) {
    // A file that shrank meanwhile gives fewer bytes: the text ends there.
    if (read > size) read = size;
    block[read] = '\0';
    // Text ends at the first NUL byte; anything but NUL bytes after it (a
    // file saved as UTF-16, say) is a file that a save would destroy.
    cutAtNul = false;
    for (DWORD i = static_cast<DWORD>(lstrlenA(block)); i < read; ++i) {
      if (block[i] != '\0') cutAtNul = true;
    }
    Parse(block);
  }
  guarded_free(block);
  return ok ? 1 : 0;
}

SettingsDocument* SettingsDocument::OpenFile(const char* name, const char* folder, uint32_t* error) {
  SettingsDocument* document = new SettingsDocument();
  if (document->LoadFile(name, folder)) {
    if (error != nullptr) *error = 0;
    return document;
  }
  if (error != nullptr) *error = document->lastError;
  delete document;
  return nullptr;
}

int SettingsDocument::Save() { return SaveFile(fileName, directory); }
