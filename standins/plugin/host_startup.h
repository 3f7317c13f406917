// Scenarios in which the plug-in writes nothing into the host, as one table:
// what the host publishes, what fails, how far the start-up goes, and which
// pack folders end up switched off.
#pragma once
#include <cstdint>

#include "host_library.h"
#include "host_packs.h"
#include "host_run.h"

enum Fault { kNoFault, kEntryGivesNone, kOwnerTaken, kInstanceFails, kVariableFails };
enum Dirs { kNoDirs, kStandard, kWithNone };
enum Argument { kNoArg, kArgVersion, kArgCount };

constexpr int32_t kAbsent = INT32_MIN;     // a variable the host does not publish
constexpr int32_t kWholeList = INT32_MAX;  // the count of the published array

struct StartupCase {
  const char* name;
  const char* library;  // the stand-in library's folder; none: no library at all
  Fault fault;
  int32_t version;    // "QV.ExeVersion", or kAbsent
  Dirs dirs;          // the array published as "QV.PackDirs"
  int32_t count;      // "QV.PackDirs.Count", kWholeList or kAbsent
  Argument argument;  // the value the scenario's argument replaces
  int calls;          // how many start-up calls the library sees; kWholeStartUp
  Blank blank;        // the pack folders switched off
};

void run_startup_case(const StartupCase& c, const HostRun& run);
