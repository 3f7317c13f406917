// A DLL that does nothing at load, linked like QV_PLUGIN.dll: the benchmark's
// baseline for the loader's own work.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
