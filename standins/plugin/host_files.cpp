#include "host_files.h"

#include <windows.h>

#include "host_check.h"
#include "win_files.h"

std::string make_work_dir() {
  const std::string work_dir = make_temp_folder("qvhost");
  if (work_dir.empty()) fatal("CreateDirectoryW work folder");
  make_folders(work_dir + "\\other");
  for (const char* name : {"\\a.dat", "\\other\\a.dat", "\\other\\b.dat"}) {
    if (!write_file(work_dir + name, "")) fatal(("CreateFileW " + work_dir + name).c_str());
  }
  return work_dir;
}

void remove_work_dir(const std::string& work_dir) {
  SetCurrentDirectoryA("C:\\");
  remove_tree(work_dir);
}
