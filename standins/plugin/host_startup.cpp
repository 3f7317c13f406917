#include "host_startup.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "host_check.h"
#include "host_report.h"

namespace {

// The argument as a number (decimal or 0x hexadecimal), `fallback` when none.
int32_t argument_number(const HostRun& run, int32_t fallback) {
  return run.argument.empty() ? fallback : static_cast<int32_t>(std::strtol(run.argument.c_str(), nullptr, 0));
}

}  // namespace

void run_startup_case(const StartupCase& c, const HostRun& run) {
  int32_t version = c.argument == kArgVersion ? argument_number(run, c.version) : c.version;
  int32_t count = c.argument == kArgCount ? argument_number(run, c.count) : c.count;
  const PackList& list = c.dirs == kWithNone ? kPacksWithNone : kStandardPacks;
  if (count == kWholeList) count = list.count;
  if (c.library != nullptr) {
    load_standin(run.standins + "\\" + c.library);
    StandinControl* control = standin();
    control->entry_gives_none = c.fault == kEntryGivesNone;
    control->create_instance_fails = c.fault == kInstanceFails;
    control->create_variable_fails = c.fault == kVariableFails;
    if (c.fault == kOwnerTaken) control->register_owner("QV.Pack.GrandRus");
    if (version != kAbsent) publish("QV.ExeVersion", version);
    if (c.dirs != kNoDirs) publish("QV.PackDirs", fill_pack_dirs(list));
    if (count != kAbsent) publish("QV.PackDirs.Count", count);
  }
  if (run.print) {
    if (version != kAbsent)
      std::printf("host version %d:\n", version);
    else
      std::printf("host version not published:\n");
  }
  load_plugin(run.plugin_path);
  if (c.library == nullptr)
    check(GetModuleHandleA("splicer_x86.dll") == nullptr, "%s: a splicer_x86.dll was loaded after all", c.name);
  const bool published[3] = {version != kAbsent, c.dirs != kNoDirs, count != kAbsent};
  const int calls = check_startup_calls(published, c.calls, c.name);
  if (c.dirs != kNoDirs) check_pack_dirs(c.blank, c.name);
  check_untouched(calls, c.name);
  if (run.print) {
    report_switched_off();
    report_patches(calls);
  }
}
