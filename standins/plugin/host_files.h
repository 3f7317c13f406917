// Files of a host run: the program's own folder and a fresh work folder
// (a.dat, other\a.dat, other\b.dat) that serves as the start directory.
#pragma once
#include <string>

// The folder of the running program, without a trailing backslash.
std::string exe_dir();
// Makes the work folder under the temporary folder; gives its long path.
std::string make_work_dir();
void remove_work_dir(const std::string& work_dir);
