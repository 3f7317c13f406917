// libFuzzer entry: any bytes become a settings text (reading ends at the first
// NUL, as it does for a file), which must survive load, save, load and save
// as checked by check_round_trip. A broken check prints the texts and aborts,
// which libFuzzer reports as a crash and keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const RoundTripResult result = check_round_trip(text.c_str());
  if (!result.ok) {
    std::fprintf(stderr, "settings round trip broken: %s\n  input: %s\n  text1: %s\n  text2: %s\n",
                 result.message.c_str(), quoted(text.c_str()).c_str(), quoted(result.text1).c_str(),
                 quoted(result.text2).c_str());
    std::abort();
  }
  return 0;
}
