#include "host_scenarios.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "host_check.h"
#include "host_hooks.h"
#include "host_library.h"
#include "host_memory.h"
#include "host_packs.h"
#include "host_patches.h"
#include "host_report.h"
#include "host_startup.h"

namespace {

constexpr bool kAll[3] = {true, true, true};

// A host thread that sets up the dialog the moment its hook is in: the
// layout must already be there.
int dialog_runs_at_install = 0;
void run_dialog_at_install(uint32_t address, void* function) {
  if (address != 0x456BA0) return;
  ++dialog_runs_at_install;
  drive_dialog_hook(function);
}

// Version 1 with everything published: the whole patch set, the pack
// folders, both hooks. The loader's FreeLibrary right after start-up leaves
// the plug-in mapped, so the hooks still run.
void scenario_version1(const HostRun& run) {
  load_standin(run.standins + "\\lib");
  publish_standard(1, kStandardPacks.count);
  standin()->hook_installed = run_dialog_at_install;
  if (run.print) std::printf("host version 1:\n");
  HMODULE plugin = load_plugin(run.plugin_path);
  standin()->hook_installed = nullptr;
  check(dialog_runs_at_install == 1, "version 1: the dialog hook ran %d times at its install", dialog_runs_at_install);
  const int first = check_startup_calls(kAll, kWholeStartUp, "version 1");
  check_pack_dirs(kBlankFonts, "version 1");
  const Hooks hooks = check_version1_patches(first, plugin);
  check(FreeLibrary(plugin) != 0, "version 1: FreeLibrary failed with %lu", GetLastError());
  HMODULE mapped = nullptr;
  check(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(plugin), &mapped) &&
            mapped == plugin,
        "version 1: the plug-in was unmapped by FreeLibrary after start-up (error %lu)", GetLastError());
  const HostDialog dialog = hooks.dialog != nullptr ? drive_dialog_hook(hooks.dialog) : HostDialog();
  const FileSeen file = hooks.file != nullptr ? drive_file_hook(hooks.file, run.work_dir) : FileSeen();
  if (!run.print) return;
  report_switched_off();
  report_patches(first);
  if (hooks.dialog != nullptr) report_dialog(dialog);
  if (hooks.file != nullptr) report_file(file);
}

// Version 1 started in a drive's root: the joined path has two backslashes.
void scenario_root(const HostRun& run) {
  load_standin(run.standins + "\\lib");
  publish_standard(1, 0);
  if (!SetCurrentDirectoryA("C:\\")) fatal("SetCurrentDirectoryA C:\\");
  HMODULE plugin = load_plugin(run.plugin_path);
  const Hooks hooks = check_version1_patches(check_startup_calls(kAll, kWholeStartUp, "root"), plugin);
  check(hooks.file != nullptr, "root: no file hook");
  if (hooks.file == nullptr) return;
  file_case(hooks.file, "X:\\data\\qvroot-none.dat", {"C:\\\\qvroot-none.dat", "X:\\data\\qvroot-none.dat"},
            "root: start directory C:\\");
}

// Version 1 started in a folder whose path does not fit 260 characters: the
// start directory stays empty and the first attempt is skipped.
void scenario_long_directory(const HostRun& run) {
  load_standin(run.standins + "\\lib");
  publish_standard(1, 0);
  std::wstring dir = L"\\\\?\\" + std::wstring(run.work_dir.begin(), run.work_dir.end());
  std::vector<std::wstring> made;
  for (int i = 0; i < 6; ++i) {
    dir += L"\\" + std::wstring(50, L'd');
    if (!CreateDirectoryW(dir.c_str(), nullptr)) fatal("CreateDirectoryW long folder");
    made.push_back(dir);
  }
  if (!SetCurrentDirectoryW(dir.c_str())) fatal("SetCurrentDirectoryW long folder");
  char probe[260];
  const DWORD n = GetCurrentDirectoryA(sizeof probe, probe);
  check(n == 0 || n >= sizeof probe, "long folder: GetCurrentDirectoryA gave %lu, the test needs a failure", n);
  HMODULE plugin = load_plugin(run.plugin_path);
  SetCurrentDirectoryA(run.work_dir.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
  const Hooks hooks = check_version1_patches(check_startup_calls(kAll, kWholeStartUp, "long folder"), plugin);
  check(hooks.file != nullptr, "long folder: no file hook");
  if (hooks.file == nullptr) return;
  const std::string path = run.work_dir + "\\other\\a.dat";
  file_case(hooks.file, path, {path}, "long folder: only the host's own path is tried");
}

// Only "QV.ExeVersion" = 1 published: the other two are created with 0, no
// folder is examined, and the patch set is still written.
void scenario_version_only(const HostRun& run) {
  load_standin(run.standins + "\\lib");
  publish("QV.ExeVersion", 1);
  HMODULE plugin = load_plugin(run.plugin_path);
  const bool published[3] = {true, false, false};
  check_version1_patches(check_startup_calls(published, kWholeStartUp, "version only"), plugin);
}

DWORD WINAPI idle_thread(LPVOID) { return 0; }

// After a normal start: a second process attach, a thread attach and a second
// copy of the plug-in change nothing.
void scenario_second(const HostRun& run) {
  load_standin(run.standins + "\\lib");
  publish_standard(1, kStandardPacks.count);
  HMODULE plugin = load_plugin(run.plugin_path);
  const int after_first = recorded();
  const std::vector<unsigned char> image(at(kHostLow), at(kHostHigh));
  fill_pack_dirs(kStandardPacks);  // fresh texts: a second blanking would show

  // The DLL's entry point, called again as the loader would.
  const unsigned char* base = reinterpret_cast<const unsigned char*>(plugin);
  const uint32_t pe = *reinterpret_cast<const uint32_t*>(base + 0x3C);
  const uint32_t entry_rva = *reinterpret_cast<const uint32_t*>(base + pe + 24 + 16);
  using Entry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
  const Entry entry = reinterpret_cast<Entry>(const_cast<unsigned char*>(base + entry_rva));
  check(entry(plugin, DLL_PROCESS_ATTACH, nullptr) == TRUE, "second: a second process attach did not give TRUE");
  check(entry(plugin, DLL_THREAD_ATTACH, nullptr) == TRUE, "second: a thread attach did not give TRUE");
  check(recorded() == after_first, "second: %d more library calls after another attach", recorded() - after_first);

  // A second copy of the plug-in under another name.
  const std::string copy = run.work_dir + "\\QV_PLUGIN_copy.dll";
  if (!CopyFileA(run.plugin_path.c_str(), copy.c_str(), FALSE)) fatal("CopyFileA plug-in copy");
  HMODULE second = load_plugin(copy);
  check(second != plugin, "second: the copy is the same module");
  expect_call(after_first, kCallEntry, nullptr, "second copy");
  expect_call(after_first + 1, kCallGetInstance, "QV.Pack.GrandRus", "second copy");
  check(recorded() == after_first + 2, "second copy: %d library calls, expected 2", recorded() - after_first);
  check(std::memcmp(image.data(), at(kHostLow), image.size()) == 0, "second: host memory changed");
  check_pack_dirs(kBlankNone, "second");
  // A real thread start and end, and the copy's unload (process detach).
  HANDLE thread = CreateThread(nullptr, 0, &idle_thread, nullptr, 0, nullptr);
  if (thread == nullptr) fatal("CreateThread");
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  check(FreeLibrary(second) != 0, "second: FreeLibrary of the copy failed with %lu", GetLastError());
  check(recorded() == after_first + 2, "second: %d library calls after a thread and an unload, expected %d",
        recorded() - after_first, 2);
  check(std::memcmp(image.data(), at(kHostLow), image.size()) == 0, "second: host memory changed at detach");
  DeleteFileA(copy.c_str());
}

// The stand-in itself: a slot outside the interface ends the process loudly.
void scenario_misuse(const HostRun& run) {
  HMODULE library = load_standin(run.standins + "\\lib");
  using Entry = void**(__attribute__((stdcall))*)();
  using Unlisted = void(__attribute__((stdcall))*)(void*);
  Entry entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, "_GetSplicerX86@0")));
  if (entry == nullptr) fatal("GetProcAddress _GetSplicerX86@0");
  void** root = entry();
  void* const* ops = static_cast<void* const*>(root[0]);
  reinterpret_cast<Unlisted>(ops[5])(root);
  check(false, "misuse: the stand-in came back from library slot 5");
}

struct Scenario {
  const char* name;
  void (*run)(const HostRun&);
};

constexpr Scenario kScenarios[] = {
    {"v1", &scenario_version1},
    {"v1-root", &scenario_root},
    {"v1-longdir", &scenario_long_directory},
    {"v1-version-only", &scenario_version_only},
    {"second", &scenario_second},
    {"misuse", &scenario_misuse},
};

// The plug-in writes nothing: the host's version is not 1, or the start-up
// stops early. Each row is a scenario of its own name.
// clang-format off
constexpr StartupCase kStartupCases[] = {
    // name         library    fault            version  dirs       count       argument     calls          switched off
    // Any version but 1: the plug-in's own pack is switched off.
    {"other",       "lib",     kNoFault,        2,       kStandard, kWholeList, kArgVersion, kWholeStartUp, kBlankOwn},
    // A count of 0 or below: no entry is examined.
    {"count",       "lib",     kNoFault,        2,       kStandard, 0,          kArgCount,   kWholeStartUp, kBlankNone},
    // Nothing published: all three are created with 0; version 0, no folders.
    {"absent",      "lib",     kNoFault,        kAbsent, kNoDirs,   kAbsent,    kNoArg,      kWholeStartUp, kBlankNone},
    // No version but folders: the version reads 0, so the own pack goes.
    {"no-version",  "lib",     kNoFault,        kAbsent, kStandard, kWholeList, kNoArg,      kWholeStartUp, kBlankOwn},
    // A count without an array, and an array with an entry that is none: the
    // plug-in skips what names no folder.
    {"no-array",    "lib",     kNoFault,        2,       kNoDirs,   3,          kNoArg,      kWholeStartUp, kBlankNone},
    {"none-entry",  "lib",     kNoFault,        2,       kWithNone, kWholeList, kNoArg,      kWholeStartUp, kBlankOwn},
    // No patching library: the load still succeeds.
    {"no-library",  nullptr,   kNoFault,        kAbsent, kNoDirs,   kAbsent,    kNoArg,      0,             kBlankNone},
    // The library has only an undecorated "GetSplicerX86": nothing is called.
    {"no-entry",    "noentry", kNoFault,        1,       kStandard, kWholeList, kNoArg,      0,             kBlankNone},
    // The entry gives none; the owner is already registered; CreateInstance
    // gives none: the start-up stops there.
    {"entry-none",  "lib",     kEntryGivesNone, 1,       kStandard, kWholeList, kNoArg,      1,             kBlankNone},
    {"registered",  "lib",     kOwnerTaken,     1,       kStandard, kWholeList, kNoArg,      2,             kBlankNone},
    {"no-instance", "lib",     kInstanceFails,  1,       kStandard, kWholeList, kNoArg,      3,             kBlankNone},
    // "QV.PackDirs.Count" can be neither found nor created: the installer
    // stops before blanking or writing anything.
    {"no-variable", "lib",     kVariableFails,  1,       kStandard, kAbsent,    kNoArg,      9,             kBlankNone},
};
// clang-format on

// The runs CTest makes: the host's tables and this list must agree.
constexpr const char* kRuns[] = {
#include "scenario_runs.inc"
};

// Whether `run` is the scenario `name`, with or without an argument.
constexpr bool runs(const char* run, const char* name) {
  while (*name != '\0' && *run == *name) ++run, ++name;
  return *name == '\0' && (*run == '\0' || *run == ' ');
}

constexpr bool listed(const char* name) {
  for (const char* run : kRuns)
    if (runs(run, name)) return true;
  return false;
}

constexpr bool known(const char* run) {
  for (const Scenario& s : kScenarios)
    if (runs(run, s.name)) return true;
  for (const StartupCase& c : kStartupCases)
    if (runs(run, c.name)) return true;
  return false;
}

constexpr bool lists_agree() {
  for (const Scenario& s : kScenarios)
    if (!listed(s.name)) return false;
  for (const StartupCase& c : kStartupCases)
    if (!listed(c.name)) return false;
  for (const char* run : kRuns)
    if (!known(run)) return false;
  return true;
}
static_assert(lists_agree(), "scenario_runs.inc and the host's scenario tables must name the same scenarios");

}  // namespace

bool is_scenario(const std::string& name) { return known(name.c_str()); }

bool run_scenario(const std::string& name, const HostRun& run) {
  for (const Scenario& s : kScenarios)
    if (name == s.name) {
      s.run(run);
      return true;
    }
  for (const StartupCase& c : kStartupCases)
    if (name == c.name) {
      run_startup_case(c, run);
      return true;
    }
  return false;
}

void list_scenarios() {
  for (const Scenario& s : kScenarios) std::printf(" %s", s.name);
  for (const StartupCase& c : kStartupCases) std::printf(" %s", c.name);
}
