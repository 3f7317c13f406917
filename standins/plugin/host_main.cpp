// Stand-in for the host game: it provides the host's address range, publishes
// the shared variables as a scenario wants (or not at all), loads
// QV_PLUGIN.dll with LoadLibraryA, then checks what the plug-in asked of the
// stand-in patching library and what ended up in the host's memory, and
// drives the two hooks. One scenario per process, since the plug-in sets
// itself up once per process.
//
//   qv_plugin_host <scenario> [argument] [--plugin=PATH] [--quiet]
//
// Without a scenario it lists them. Exit code 0 when every check passed, 1
// otherwise, 70 when the plug-in called an operation outside the patching
// library's interface.
#include <windows.h>

#include <cstdio>
#include <string>

#include "host_check.h"
#include "host_files.h"
#include "host_memory.h"
#include "host_scenarios.h"
#include "win_text.h"

int main(int argc, char** argv) {
  HostRun run;
  std::string scenario;
  run.standins = program_folder();
  if (run.standins.empty()) fatal("GetModuleFileNameA");
  run.plugin_path = run.standins + "\\..\\..\\plugin\\QV_PLUGIN.dll";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--plugin=", 0) == 0)
      run.plugin_path = a.substr(9);
    else if (a == "--quiet")
      run.print = false;
    else if (scenario.empty())
      scenario = a;
    else
      run.argument = a;
  }
  if (!is_scenario(scenario)) {
    std::printf("usage: qv_plugin_host <scenario> [argument] [--plugin=PATH] [--quiet]\nscenarios:");
    list_scenarios();
    std::printf("\n");
    return 2;
  }
  setup_host_memory();
  run.work_dir = make_work_dir();
  if (!SetCurrentDirectoryA(run.work_dir.c_str())) fatal("SetCurrentDirectoryA work folder");
  run_scenario(scenario, run);
  remove_work_dir(run.work_dir);
  return report_checks(("host " + scenario).c_str());
}
