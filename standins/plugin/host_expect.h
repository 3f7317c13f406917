// What the stand-in host expects the plug-in to do to it for host version 1:
// the patch calls in order, as the host build's patch list gives them.
#pragma once
#include <cstdint>
#include <vector>

struct ExpectedCall {
  int32_t kind;  // StandinCallKind
  uint32_t address;
  uint32_t value;         // written value
  uint32_t selectors[3];  // of a hook
  const char* text;       // hex text
  const char* hook;       // "dialog" or "file" for a hook
};

// Every write, hex write and hook of the version-1 patch set, in order.
std::vector<ExpectedCall> version1_patch_calls();

// The dialog layout the version-1 patch set gives items 100 and 101.
constexpr int16_t kExpectedLayout100[4] = {567, 8, 192, 116};
constexpr int16_t kExpectedLayout101[4] = {531, 232, 263, 161};
