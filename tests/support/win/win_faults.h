// File calls made to fail for a test under Wine, with strace's fault
// injection (inject_faults.sh), for as long as the object lives.
#pragma once
#include <string>
#include <vector>

// The Unix path of a Windows path, as Wine names it; "" when there is none.
std::string unix_path(const std::string& path);

class InjectedFaults {
 public:
  // `options` are strace's, such as "-e inject=fsync:error=EIO"; `files` are
  // the Windows paths whose calls may fail; `folder` is where the script and
  // the test meet (a test folder). The calls are those of the Wine server
  // and this process, or, when `program` is given, of the processes whose
  // command line holds it (and not the server's).
  InjectedFaults(const std::string& folder, const std::string& options, const std::vector<std::string>& files,
                 const std::string& program = "");
  ~InjectedFaults();
  InjectedFaults(const InjectedFaults&) = delete;
  InjectedFaults& operator=(const InjectedFaults&) = delete;

  // strace holds the Wine server and this process; else the test is skipped.
  bool attached() const { return attached_; }
  // What strace saw (its -o log) once it has let go; call after the calls.
  std::string Log();

 private:
  std::string folder_;
  bool attached_ = false;
  bool ended_ = false;
};
