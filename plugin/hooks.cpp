#include <cstring>

#include "hooks.h"
#include "plugin_state.h"
#include "text.h"

namespace {

// Host code reached from the hooks.
using DialogSetup = void*(__attribute__((thiscall)) *)(void* dialog);
using FindItem = char*(__attribute__((thiscall)) *)(void* dialog, uint32_t id);
using FileRoutine = int(__attribute__((cdecl)) *)(const char* path, uint32_t value);

// Offsets of x, y, width and height in the host's dialog item record.
constexpr int kItemX = 24;

void place_item(void* dialog, uint32_t id, const int16_t* layout) {
  char* item = reinterpret_cast<FindItem>(static_cast<uintptr_t>(kFindItemAddress))(dialog, id);
  if (item == nullptr) return;
  std::memcpy(item + kItemX, layout, 4 * sizeof(int16_t));
}

}  // namespace

void* __attribute__((stdcall)) dialog_layout_hook(SplicerHook* hook, void* dialog) {
  reinterpret_cast<DialogSetup>(hook->ops->GetDefaultFunction(hook))(dialog);
  place_item(dialog, 100, &plugin_state.dialog_layout[0]);
  place_item(dialog, 101, &plugin_state.dialog_layout[4]);
  return dialog;
}

int __attribute__((cdecl)) file_redirect_hook(SplicerHook* hook, const char* path, uint32_t value) {
  // First the file of the same last name in the start directory. That attempt
  // is skipped when the start directory is unknown (an empty one would name
  // the drive's root) or the joined path would not fit: a cut path is never
  // passed on.
  const char* name = path_file_part(path);
  const char* directory = plugin_state.start_directory;
  const size_t directory_length = std::strlen(directory);
  const size_t name_length = name != nullptr ? std::strlen(name) : 0;
  if (directory_length != 0 && directory_length + 1 + name_length < static_cast<size_t>(kPathSize)) {
    char joined[kPathSize];
    std::memcpy(joined, directory, directory_length);
    joined[directory_length] = '\\';
    std::memcpy(joined + directory_length + 1, name, name_length);
    joined[directory_length + 1 + name_length] = '\0';
    const int result = reinterpret_cast<FileRoutine>(hook->ops->GetDefaultFunction(hook))(joined, value);
    if (result != 0) return result;
  }
  return reinterpret_cast<FileRoutine>(hook->ops->GetDefaultFunction(hook))(path, value);
}
