// Hand-off to the product's updater when the command line has no switch.
#pragma once
#include <cstdint>

// Products older than this (3.8) keep the updater in the game folder.
constexpr uint32_t kUpdaterMoveBelow = 0x30008;

// dwFileVersionMS of "_QV3_.dll" (major << 16 | minor), 0 when unreadable.
uint32_t get_product_dll_version();

// Waits for the game and the launcher to let go of their files, moves an old
// updater into the data folder and starts it with "/SILENT". A Cancel in
// either wait, or a question that cannot be shown, ends the hand-off.
void run_update_hand_off(uint32_t product_version);
