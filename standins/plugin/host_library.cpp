#include "host_library.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "host_check.h"
#include "host_memory.h"

namespace {

StandinControl* control = nullptr;

constexpr const char* kOwner = "QV.Pack.GrandRus";
constexpr const char* kVariables[3] = {"QV.ExeVersion", "QV.PackDirs", "QV.PackDirs.Count"};

struct Call {
  int32_t kind;
  const char* text;
};

// The calls of a whole start-up, in order.
std::vector<Call> startup_sequence(const bool published[3]) {
  std::vector<Call> calls = {{kCallEntry, nullptr}, {kCallGetInstance, kOwner}, {kCallCreateInstance, kOwner}};
  for (int v = 0; v < 3; ++v) {
    calls.push_back({kCallFindVariable, kVariables[v]});
    if (!published[v]) calls.push_back({kCallCreateVariable, kVariables[v]});
    calls.push_back({kCallValueAddress, kVariables[v]});
  }
  return calls;
}

}  // namespace

HMODULE load_standin(const std::string& folder) {
  const std::string path = folder + "\\splicer_x86.dll";
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) fatal(("LoadLibraryA " + path).c_str());
  FARPROC entry = GetProcAddress(module, "standin_control");
  if (entry == nullptr) fatal("GetProcAddress standin_control");
  control = reinterpret_cast<StandinControlEntry>(reinterpret_cast<void*>(entry))();
  return module;
}

StandinControl* standin() { return control; }

void publish(const char* name, uint32_t value) { control->publish(name, value); }

int recorded(int from) { return control != nullptr ? control->call_count - from : 0; }
const StandinCall& call_at(int i) { return control->calls[i]; }

const char* kind_name(int32_t kind) {
  switch (kind) {
    case kCallEntry: return "_GetSplicerX86@0";
    case kCallCreateInstance: return "CreateInstance";
    case kCallGetInstance: return "GetInstance";
    case kCallCreateVariable: return "CreateVariable";
    case kCallFindVariable: return "FindVariable";
    case kCallValueAddress: return "ValueAddress";
    case kCallWriteByte: return "WriteByte";
    case kCallWriteWord: return "WriteWord";
    case kCallWriteDword: return "WriteDword";
    case kCallInstallHook: return "InstallHook";
    case kCallWriteHexBytes: return "WriteHexBytes";
    case kCallMisuse: return "misuse";
  }
  return "?";
}

bool expect_call(int i, int32_t kind, const char* text, const char* what) {
  if (i >= recorded()) {
    check(false, "%s: call %d missing, expected %s(%s); %d calls recorded", what, i, kind_name(kind),
          text != nullptr ? text : "", recorded());
    return false;
  }
  const StandinCall& c = call_at(i);
  const bool ok = c.kind == kind && (text == nullptr || std::strcmp(c.text, text) == 0);
  check(ok, "%s: call %d is %s(%s), expected %s(%s)", what, i, kind_name(c.kind), c.text, kind_name(kind),
        text != nullptr ? text : "");
  return ok;
}

int check_startup_calls(const bool published[3], int calls, const char* what) {
  const std::vector<Call> sequence = startup_sequence(published);
  const int n = calls == kWholeStartUp ? static_cast<int>(sequence.size()) : calls;
  for (int i = 0; i < n; ++i) {
    const Call& x = sequence[i];
    if (expect_call(i, x.kind, x.text, what) && x.kind == kCallCreateVariable)
      check(call_at(i).value == 0, "%s: %s created with %u, expected 0", what, x.text, call_at(i).value);
  }
  // A start-up that goes on to CreateInstance found no instance of its name.
  if (n > 2) check(1 < recorded() && call_at(1).result == 0, "%s: GetInstance found an instance", what);
  const uint32_t root = recorded() > 0 ? call_at(0).result : 0;
  for (int k = 1; k < n && k < recorded(); ++k)
    if (call_at(k).kind != kCallValueAddress)
      check(call_at(k).object == root, "%s: call %d made on 0x%08X, not on the root 0x%08X", what, k, call_at(k).object,
            root);
  return n;
}

void check_untouched(int calls, const char* what) {
  check(recorded() == calls, "%s: %d library calls recorded, expected %d", what, recorded(), calls);
  for (int i = 0; i < recorded(); ++i) {
    const int32_t k = call_at(i).kind;
    check(k != kCallWriteByte && k != kCallWriteWord && k != kCallWriteDword && k != kCallWriteHexBytes &&
              k != kCallInstallHook,
          "%s: call %d is %s at 0x%06X", what, i, kind_name(k), call_at(i).address);
  }
  check_host_memory(pristine_image(), what);
}

HMODULE load_plugin(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  check(module != nullptr, "LoadLibraryA(%s) failed with %lu", path.c_str(), GetLastError());
  if (module == nullptr) ExitProcess(static_cast<UINT>(report_checks("host")));
  return module;
}
