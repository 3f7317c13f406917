// The stand-in host's scenarios, by name.
#pragma once
#include "host_run.h"

bool is_scenario(const std::string& name);
// Runs the scenario `name`; false when there is none of that name.
bool run_scenario(const std::string& name, const HostRun& run);
// Prints the names of all scenarios, each after a blank.
void list_scenarios();
