// Folders and whole files for the Windows tests and stand-ins. Paths are in
// the ANSI code page; the calls underneath take UTF-16, so a path that needs
// more than 259 bytes in a double-byte code page still works while it has
// fewer than 260 characters.
#pragma once
#include <string>
#include <vector>

// Makes a fresh folder "<prefix>-<process id>-<n>" under the temporary
// folder and gives its full path; "" when it cannot be made (GetLastError
// tells why).
std::string make_temp_folder(const char* prefix);
// Makes the folder and those above it that are missing.
void make_folders(const std::string& path);
// Removes the folder with everything in it, read-only files too.
void remove_tree(const std::string& path);
// Writes the bytes as the whole file. Returns 1 on success, else 0 and
// GetLastError tells why.
int write_file(const std::string& path, const std::string& bytes);
// The file's bytes; `missing` when it cannot be opened.
std::string read_file(const std::string& path, const char* missing = "<missing>");
// Copies a file over another. Returns 1 on success.
int copy_file(const std::string& from, const std::string& to);
// The names in the folder but "." and "..", each folder's with a "\" at its end.
std::vector<std::string> folder_names(const std::string& folder);
// Makes `link` a symbolic link to `target` (a name relative to the link's
// folder) as Wine shows one: a link of the Unix file system, made by the
// system's own ln (Wine's CreateSymbolicLinkA makes nothing). Returns 1
// when the link is there.
int make_symbolic_link(const std::string& target, const std::string& link);
int make_symbolic_link(const std::wstring& target, const std::wstring& link);

// A fresh temporary folder (make_temp_folder), removed with everything in it
// at the end of its scope; path() is "" when it could not be made.
class TempFolder {
 public:
  explicit TempFolder(const char* prefix) : path_(make_temp_folder(prefix)) {}
  ~TempFolder() {
    if (!path_.empty()) remove_tree(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string At(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};
