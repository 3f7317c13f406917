// Benchmarks of the settings reader and writer on generated settings texts:
// Parse, and MeasureText plus WriteText, at 1 KB, 100 KB and 10 MB (about 50
// tags, many values and comments), a combined parse and write of 1 MB, and the
// cost of a parse as the number of tags grows (each tag token is one linear
// FindTag scan, so the curve is expected to bend upwards).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "settings_document.h"

namespace {
// Small deterministic generator, so that every run measures the same texts.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

// One line of values, in one of a few shapes seen in settings files.
void append_value_line(std::string* text, Lcg* rng, int line) {
  char buffer[160];
  switch (line % 4) {
    case 0:
      std::snprintf(buffer, sizeof buffer, "  \"Pack_%05u\", 0x%X, -%u, %u // entry %d\r\n", rng->Next() % 100000u,
                    rng->Next(), rng->Next() % 10000u, rng->Next() % 1000u, line);
      break;
    case 1:
      std::snprintf(buffer, sizeof buffer, "  { disabled: %u } %u, \"%s\", 0x%X\r\n", rng->Next() % 100u,
                    rng->Next() % 100000u, "text value", rng->Next() % 65536u);
      break;
    case 2:
      std::snprintf(buffer, sizeof buffer, "  \"C:\\\\Games\\\\Data\\\\file_%u.dat\", %u, %u\r\n", rng->Next() % 1000u,
                    rng->Next() % 800u, rng->Next() % 600u);
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "  // note %u about the values below\r\n  %d, 0x%X\r\n", rng->Next() % 1000u,
                    static_cast<int>(rng->Next() % 2000u) - 1000, rng->Next() % 4096u);
      break;
  }
  *text += buffer;
}

// A settings text of about `bytes` bytes over `tags` distinct tags, each
// head followed by value lines until its share of the size is reached.
std::string make_settings_text(size_t bytes, int tags) {
  std::string text = "// generated settings\r\n{ brace comment\r\n  over two lines }\r\n";
  Lcg rng{12345u};
  int line = 0;
  for (int t = 0; t < tags; ++t) {
    const size_t end = bytes * static_cast<size_t>(t + 1) / static_cast<size_t>(tags);
    char head[48];
    std::snprintf(head, sizeof head, "<Section%03d> =", t);
    text += head;
    do {
      append_value_line(&text, &rng, line++);
    } while (text.size() < end);
  }
  return text;
}

// `tags` tags of two values each, on lines of their own.
std::string make_tag_text(int tags) {
  std::string text;
  char line[64];
  for (int t = 0; t < tags; ++t) {
    std::snprintf(line, sizeof line, "<Tag%05d> = \"v%d\", %d\r\n", t, t, t);
    text += line;
  }
  return text;
}

// The generated texts, made once per size.
const std::string& text_of_size(int64_t bytes) {
  static std::map<int64_t, std::string> texts;
  std::string& text = texts[bytes];
  if (text.empty()) text = make_settings_text(static_cast<size_t>(bytes), 50);
  return text;
}

void count_items(benchmark::State& state, const SettingsDocument& doc) {
  state.counters["items"] = static_cast<double>(doc.items.count);
}

void BM_Parse(benchmark::State& state) {
  const std::string& text = text_of_size(state.range(0));
  SettingsDocument doc;
  while (state.KeepRunning()) {
    doc.Parse(text.c_str());
    benchmark::DoNotOptimize(doc.items.count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  count_items(state, doc);
}

void BM_MeasureWrite(benchmark::State& state) {
  const std::string& text = text_of_size(state.range(0));
  SettingsDocument doc;
  doc.Parse(text.c_str());
  std::vector<char> block(static_cast<size_t>(doc.MeasureText()) + 1);
  int64_t written = 0;
  while (state.KeepRunning()) {
    const int32_t n = doc.MeasureText();
    doc.WriteText(block.data());
    benchmark::DoNotOptimize(block.data());
    written += n;
  }
  state.SetBytesProcessed(written);
  count_items(state, doc);
}

// What a load and save does in memory: parse, measure, write.
void BM_ParseWrite(benchmark::State& state) {
  const std::string& text = text_of_size(state.range(0));
  SettingsDocument doc;
  std::vector<char> block;
  while (state.KeepRunning()) {
    doc.Parse(text.c_str());
    const int32_t n = doc.MeasureText();
    block.resize(static_cast<size_t>(n) + 1);
    doc.WriteText(block.data());
    benchmark::DoNotOptimize(block.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  count_items(state, doc);
}

void BM_ParseTags(benchmark::State& state) {
  const int tags = static_cast<int>(state.range(0));
  const std::string text = make_tag_text(tags);
  SettingsDocument doc;
  while (state.KeepRunning()) {
    doc.Parse(text.c_str());
    benchmark::DoNotOptimize(doc.items.count);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * tags);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.SetComplexityN(tags);
}

constexpr int64_t kKB = 1024;
constexpr int64_t kMB = 1024 * 1024;
}  // namespace

BENCHMARK(BM_Parse)->Arg(kKB)->Arg(100 * kKB)->Arg(10 * kMB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeasureWrite)->Arg(kKB)->Arg(100 * kKB)->Arg(10 * kMB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseWrite)->Arg(kMB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseTags)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

BENCHMARK_MAIN();
