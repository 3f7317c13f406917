#include <cstring>

#include "growable.h"
#include "settings_document.h"

namespace {
// Bytes of one item reference (4 in the 32-bit build).
constexpr int32_t kReferenceBytes = static_cast<int32_t>(sizeof(void*));
}  // namespace

void ItemArray::SetCount(int32_t n) {
  constexpr int32_t kStepBytes = kStepReferences * kReferenceBytes;
  char* block = reinterpret_cast<char*>(data);
  resize_stepped_block(&block, &capacityBytes, n * kReferenceBytes, kStepBytes);
  data = reinterpret_cast<SettingsItem**>(block);
  count = n > 0 ? n : 0;
}

void ItemArray::Add(SettingsItem* item) {
  SetCount(count + 1);
  data[count - 1] = item;
}

void ItemArray::InsertAt(int32_t i, SettingsItem* item) {
  if (i < 0 || i > count) return;
  SetCount(count + 1);
  for (int32_t k = count - 2; k >= i; --k) data[k + 1] = data[k];
  data[i] = item;
}

void ItemArray::RemoveAt(int32_t i, int32_t n) {
  if (i < 0 || i >= count || n < 0) return;
  if (n > count - i) n = count - i;
  if (n == 0) return;
  for (int32_t k = i + n; k < count; ++k) data[k - n] = data[k];
  SetCount(count - n);
}
