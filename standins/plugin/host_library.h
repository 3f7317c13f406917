// The stand-in patching library as the host sees it: loading it, its
// switches and record (StandinControl), the checks on that record, and
// loading the plug-in itself.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "standin_control.h"

// Loads splicer_x86.dll from `folder` by its full path, so that the plug-in's
// LoadLibraryA("splicer_x86.dll") finds that module; gives the module.
HMODULE load_standin(const std::string& folder);
// The loaded stand-in's control block; none before load_standin.
StandinControl* standin();
// Publishes a shared variable, as the product part that loads the plug-in would.
void publish(const char* name, uint32_t value);

// The record: number of calls since `from`, and one call.
int recorded(int from = 0);
const StandinCall& call_at(int i);
const char* kind_name(int32_t kind);
// Checks that call i is `kind` with the text (when given); gives whether it is.
bool expect_call(int i, int32_t kind, const char* text, const char* what);

// The start-up part of the record: entry, GetInstance, CreateInstance, then
// each shared variable found (or created with 0 where `published` says it was
// not) and its cell asked for; all on the root. `calls` is where the start-up
// stops, -1 for the whole of it. Gives the number of calls checked.
constexpr int kWholeStartUp = -1;
int check_startup_calls(const bool published[3], int calls, const char* what);
// Nothing beyond `calls` was asked, nothing written, no hook, and the host
// memory as it was.
void check_untouched(int calls, const char* what);

// LoadLibraryA of the plug-in; a failure is a failed check that ends the run.
HMODULE load_plugin(const std::string& path);
