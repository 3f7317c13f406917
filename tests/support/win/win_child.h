// Other processes for the Windows tests: a plain start, a run whose message
// boxes are watched and answered until it ends, and what can be read of a
// running process from outside.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "box_watcher.h"

// Starts a program with CreateProcessW. `application` "" takes the program
// from the command line, `folder` "" keeps this process's current directory.
// Returns 1 on success (the caller closes both handles), else 0 and
// GetLastError tells why.
int start_process(const std::string& application, const std::string& command_line, const std::string& folder,
                  PROCESS_INFORMATION* process);
// Ends a started process (if it still runs), waits for it and closes its
// handles.
void end_process(PROCESS_INFORMATION* process);

struct ChildRun {
  bool started = false;
  DWORD start_error = 0;  // GetLastError of a start that failed
  bool ended = false;     // within the time; a process still running then is ended with code 99
  DWORD exit_code = 0;
  DWORD process_id = 0;
  std::vector<BoxRecord> boxes;
  std::vector<DWORD> children;  // processes it started that still ran when it ended
};

// Answer every box with the same button.
int answer_ok(void*, int, const BoxRecord&);
int answer_cancel(void*, int, const BoxRecord&);

// Starts the program as start_process does and watches it for up to
// timeout_ms: each box it shows is read, answered by `answer` and recorded.
ChildRun run_watched(const std::string& application, const std::string& command_line, const std::string& folder,
                     BoxAnswerFn answer, void* context, DWORD timeout_ms);

// The running processes that `parent` started.
std::vector<DWORD> child_processes(DWORD parent);
// The file name (without folder) of a running process's program.
std::string process_exe_name(DWORD process_id);
// The command line of a running process, read from its process parameters.
std::string process_command_line(DWORD process_id);
// Ends the processes.
void end_processes(const std::vector<DWORD>& process_ids);
