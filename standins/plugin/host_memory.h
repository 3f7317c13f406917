// The host game's address range 0x400000-0x640000, as the plug-in finds it:
// filled with 0xCC but for a jump at the host's find-item address to the
// stand-in's own routine.
#pragma once
#include <cstdint>
#include <vector>

constexpr uint32_t kHostLow = 0x400000;
constexpr uint32_t kHostHigh = 0x640000;
constexpr unsigned char kFill = 0xCC;

unsigned char* at(uint32_t address);
// Makes the range writable and fills it afresh.
void setup_host_memory();
// What the range holds after setup_host_memory.
std::vector<unsigned char> pristine_image();
// Compares the whole range with `expected`: names up to eight differing bytes.
void check_host_memory(const std::vector<unsigned char>& expected, const char* what);
