// One run of the stand-in host: a scenario, its argument and where it runs.
#pragma once
#include <string>

struct HostRun {
  std::string argument;     // the scenario's argument, "" when none
  bool print = true;        // print what the plug-in did (the demo)
  std::string plugin_path;  // the DLL under test
  std::string work_dir;     // this run's fresh folder; the start directory
  std::string standins;     // folder of the stand-in libraries (lib\, noentry\)
};
