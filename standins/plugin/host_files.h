// The fresh work folder of a host run (a.dat, other\a.dat, other\b.dat),
// which serves as the start directory.
#pragma once
#include <string>

// Makes the work folder under the temporary folder; gives its full path.
std::string make_work_dir();
// Leaves the work folder and removes it with everything in it.
void remove_work_dir(const std::string& work_dir);
