// Benchmarks of the plug-in under Wine, in the stand-in host's address range
// with the stand-in patching library:
//   - start-up as host version 1: the DLL entry call alone, the same apart
//     from the library's own work, the whole LoadLibraryA, and LoadLibraryA of
//     an empty DLL built alike for comparison;
//   - what file_redirect_hook adds to each host file call.
//
//   qv_plugin_bench [loads] [--plugin=PATH]     (30 loads by default)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_check.h"
#include "host_files.h"
#include "host_library.h"
#include "host_memory.h"
#include "host_packs.h"
#include "host_routines.h"
#include "win_text.h"

namespace {

// Calls of a version-1 start-up: 9 of the start-up, 129 patches.
constexpr int kStartupCalls = 9 + 129;

double ticks_to_us(int64_t ticks) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(ticks) * 1e6 / static_cast<double>(f.QuadPart);
}

int64_t now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

std::string copy_of(const std::string& from, const std::string& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) fatal(("CopyFileA " + to).c_str());
  return to;
}

// A fresh library record and host, version 1 with every pack folder.
void reset_host() {
  standin()->reset();
  setup_host_memory();
  publish_standard(1, kStandardPacks.count);
}

// Maps a DLL without running its entry and binds its imports by hand; gives
// its entry point. The benchmark then times the entry call alone: what the
// plug-in does under the loader lock, apart from the loader's mapping work.
using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
DllEntry map_without_entry(const std::string& path, HMODULE* module) {
  HMODULE m = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (m == nullptr) fatal("LoadLibraryExA DONT_RESOLVE_DLL_REFERENCES");
  unsigned char* base = reinterpret_cast<unsigned char*>(m);
  const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + *reinterpret_cast<const uint32_t*>(base + 0x3C));
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name != 0; ++d) {
    HMODULE dll = LoadLibraryA(reinterpret_cast<const char*>(base + d->Name));
    if (dll == nullptr) fatal("LoadLibraryA import");
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(
        base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto* iat = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++iat) {
      const char* name = (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32)
                             ? reinterpret_cast<const char*>(static_cast<uintptr_t>(names->u1.Ordinal & 0xFFFF))
                             : reinterpret_cast<const char*>(
                                   reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      FARPROC f = GetProcAddress(dll, name);
      if (f == nullptr) fatal("GetProcAddress import");
      DWORD old;
      VirtualProtect(&iat->u1.Function, 4, PAGE_READWRITE, &old);
      iat->u1.Function = static_cast<DWORD>(reinterpret_cast<uintptr_t>(f));
      VirtualProtect(&iat->u1.Function, 4, old, &old);
    }
  }
  *module = m;
  return reinterpret_cast<DllEntry>(base + nt->OptionalHeader.AddressOfEntryPoint);
}

// Start-up: each load is a fresh copy of the DLL (the plug-in starts once per
// module), with the library and the host reset in between. A copy of a DLL
// that does nothing at load, built the same way, is loaded beside each one:
// the difference is the plug-in's own start-up, apart from the loader's work
// of mapping a DLL. Gives the file hook of the first load.
void* bench_startup(const std::string& plugin_path, const std::string& work_dir, int loads) {
  const std::string empty = program_folder() + "\\qv_empty.dll";
  std::vector<std::string> copies, empties;
  for (int i = 0; i < loads; ++i) {
    copies.push_back(copy_of(plugin_path, work_dir + "\\QV_PLUGIN_" + std::to_string(i) + ".dll"));
    empties.push_back(copy_of(empty, work_dir + "\\qv_empty_" + std::to_string(i) + ".dll"));
  }
  std::vector<double> total, baseline, inside;
  void* file_hook = nullptr;
  for (int i = 0; i < loads; ++i) {
    reset_host();
    int64_t t0 = now();
    HMODULE e = LoadLibraryA(empties[i].c_str());
    int64_t t1 = now();
    if (e == nullptr) fatal("LoadLibraryA empty copy");
    baseline.push_back(ticks_to_us(t1 - t0));
    t0 = now();
    HMODULE m = LoadLibraryA(copies[i].c_str());
    t1 = now();
    if (m == nullptr) fatal("LoadLibraryA bench copy");
    check(recorded() == kStartupCalls, "bench: load %d made %d library calls, expected %d", i, recorded(),
          kStartupCalls);
    total.push_back(ticks_to_us(t1 - t0));
    const StandinControl* control = standin();
    inside.push_back(ticks_to_us(control->last_tick - control->first_tick - control->work_ticks));
    for (int k = 0; k < recorded(); ++k)
      if (i == 0 && call_at(k).kind == kCallInstallHook && call_at(k).address == 0x4884A5)
        file_hook = reinterpret_cast<void*>(static_cast<uintptr_t>(call_at(k).function));
  }
  // The entry call alone, on copies mapped without it.
  std::vector<double> entry_total, entry_own;
  for (int i = 0; i < loads; ++i) {
    HMODULE m;
    const DllEntry entry = map_without_entry(copy_of(plugin_path,
                                                     work_dir + "\\QV_PLUGIN_entry_" + std::to_string(i) + ".dll"),
                                             &m);
    reset_host();
    const int64_t t0 = now();
    entry(m, DLL_PROCESS_ATTACH, nullptr);
    const int64_t t1 = now();
    check(recorded() == kStartupCalls, "bench: entry call %d made %d library calls, expected %d", i, recorded(),
          kStartupCalls);
    entry_total.push_back(ticks_to_us(t1 - t0));
    entry_own.push_back(ticks_to_us(t1 - t0 - standin()->work_ticks));
  }
  std::printf("start-up of the plug-in as host version 1 (%d loads, median / min):\n", loads);
  std::printf("  DLL entry call (DllMain: binding, registration, install_patches): %8.1f / %8.1f us\n",
              median(entry_total), minimum(entry_total));
  std::printf(
      "  the same apart from the stand-in library's own work:             %8.1f / %8.1f us (goal: well under 1000 "
      "us)\n",
      median(entry_own), minimum(entry_own));
  std::printf("  whole LoadLibraryA of QV_PLUGIN.dll (Wine's mapping included): %8.1f / %8.1f us\n", median(total),
              minimum(total));
  std::printf("  LoadLibraryA of an empty DLL built alike, for comparison:       %8.1f / %8.1f us\n", median(baseline),
              minimum(baseline));
  std::printf("  plug-in time between its first and last library call, library work apart: %8.1f / %8.1f us\n",
              median(inside), minimum(inside));
  // The copies stay loaded until the process ends: nothing is ever unloaded.
  return file_hook;
}

// The file hook's own cost per host file call: the hook with a host routine
// that succeeds at once, against calling that routine directly.
void bench_file_hook(void* file_hook) {
  using Hook = int(__attribute__((cdecl))*)(HostHook*, const char*, uint32_t);
  using Routine = int(__attribute__((cdecl))*)(const char*, uint32_t);
  Hook volatile hook_fn = reinterpret_cast<Hook>(file_hook);
  Routine volatile routine = reinterpret_cast<Routine>(host_file_quick_address());
  HostHook hook;
  host_hook_init(&hook, host_file_quick_address());
  const char* path = "C:\\Games\\Host\\data\\textures\\menu_background.dds";
  const int rounds = 1000000;
  volatile int sink = 0;
  int64_t t0 = now();
  for (int i = 0; i < rounds; ++i) sink = sink + routine(path, static_cast<uint32_t>(i));
  const double direct = ticks_to_us(now() - t0) * 1000.0 / rounds;
  t0 = now();
  for (int i = 0; i < rounds; ++i) sink = sink + hook_fn(&hook, path, static_cast<uint32_t>(i));
  const double hooked = ticks_to_us(now() - t0) * 1000.0 / rounds;
  std::printf("file_redirect_hook (%d calls, first attempt succeeds):\n", rounds);
  std::printf(
      "  host routine alone %.1f ns, through the hook %.1f ns: the hook adds %.1f ns per call (goal: under 1000 ns)\n",
      direct, hooked, hooked - direct);
}

}  // namespace

int main(int argc, char** argv) {
  std::string plugin_path = program_folder() + "\\..\\plugin\\QV_PLUGIN.dll";
  int loads = 30;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--plugin=", 0) == 0)
      plugin_path = a.substr(9);
    else
      loads = std::max(1, std::atoi(a.c_str()));
  }
  setup_host_memory();
  const std::string work_dir = make_work_dir();
  if (!SetCurrentDirectoryA(work_dir.c_str())) fatal("SetCurrentDirectoryA work folder");
  load_standin(program_folder() + "\\..\\standins\\plugin\\lib");
  void* file_hook = bench_startup(plugin_path, work_dir, loads);
  if (file_hook == nullptr) fatal("bench: no file hook");
  bench_file_hook(file_hook);
  remove_work_dir(work_dir);
  return report_checks("plugin bench");
}
