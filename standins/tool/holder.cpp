// Holds a file open until told to let go, as a running game or launcher
// holds its program files.
//   standin_holder.exe <file> <mode> <ready event> <release event>
// mode "none": read and write access, no sharing (others get error 32);
// mode "read": read access, others may only read (a replace fails).
// Sets the ready event once the file is open (not at all when it cannot be
// opened), closes it when the release event is set. Exit code 0, or 2 when the file could not be opened.
#include <windows.h>

#include "args.h"

int main() {
  const char* p = after_program_name(GetCommandLineA());
  char file_name[1024], mode[16], ready_name[256], release_name[256];
  if (!next_word(&p, file_name, sizeof file_name) || !next_word(&p, mode, sizeof mode) ||
      !next_word(&p, ready_name, sizeof ready_name) || !next_word(&p, release_name, sizeof release_name)) {
    return 1;
  }
  const bool read_only = lstrcmpA(mode, "read") == 0;
  HANDLE file = CreateFileA(file_name, read_only ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                            read_only ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready_name);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, release_name);
  if (file == INVALID_HANDLE_VALUE) return 2;
  if (ready != nullptr) SetEvent(ready);
  if (release != nullptr) WaitForSingleObject(release, 120000);
  CloseHandle(file);
  return 0;
}
