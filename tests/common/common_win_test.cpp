// Windows behaviour of the common helpers: the allocation-failure box and the
// end of the process after it, and (plug-in build) the bad-release report.
// Compiled once against each build of the helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "error_box.h"
#include "guarded_alloc.h"
#include "win_child.h"
#include "win_text.h"
#ifdef QV_PLUGIN_BUILD
#include "trace_log.h"
#endif

namespace {
// The longest text the error box shows.
#ifdef QV_PLUGIN_BUILD
const size_t kLongestBoxText = 519;
#else
const size_t kLongestBoxText = 511;
#endif

// Starts this test program in a child mode, answers its box with OK when one
// appears (under Xvfb), and waits for it to end.
ChildRun run_child(const char* mode) {
  const ChildRun run = run_watched("", "\"" + program_path() + "\" " + mode, "", answer_ok, nullptr, 30000);
  if (!run.started) ADD_FAILURE() << "CreateProcessW failed with " << run.start_error;
  return run;
}

bool have_display() { return GetEnvironmentVariableA("DISPLAY", nullptr, 0) > 0; }

#ifdef QV_PLUGIN_BUILD
int breakpoints_seen = 0;

LONG CALLBACK skip_breakpoint(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT) {
    // The context points at the int3: step over it and go on.
    if (*reinterpret_cast<unsigned char*>(info->ContextRecord->Eip) == 0xCC) info->ContextRecord->Eip += 1;
    breakpoints_seen += 1;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}
#endif
}  // namespace

TEST(AllocationFailure, ShowsTheBoxThenEndsTheProcessWithCode1) {
  const ChildRun run = run_child("--exhaust-heap");
  EXPECT_EQ(run.exit_code, 1u) << "guarded_alloc must end the process, never return without a block";
  if (!have_display()) GTEST_SKIP() << "no display: the box cannot be seen";
  ASSERT_FALSE(run.boxes.empty()) << "no box seen";
  const BoxRecord& box = run.boxes[0];
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.icon, MB_ICONHAND) << "the error icon";
  EXPECT_FALSE(box.owned);
  const std::string prefix = "CANN'T QV_ALLOC from ";
  ASSERT_EQ(box.text.compare(0, prefix.size(), prefix), 0) << box.text;
  const std::string address = box.text.substr(prefix.size());
  ASSERT_FALSE(address.empty());
  EXPECT_NE(address[0], '0') << "no leading zeros: " << address;
  EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
}

TEST(ErrorBox, ALongTextIsCutToTheBuffer) {
  if (!have_display()) GTEST_SKIP() << "no display: the box cannot be seen";
  const ChildRun run = run_child("--long-box");
  ASSERT_FALSE(run.boxes.empty()) << "no box seen";
  EXPECT_EQ(run.boxes[0].caption, "Error");
  EXPECT_EQ(run.boxes[0].text, std::string(kLongestBoxText, 'w')) << "length " << run.boxes[0].text.size();
  EXPECT_EQ(run.exit_code, 0u);
}

#ifdef QV_PLUGIN_BUILD
TEST(BadRelease, IsRecordedInTheTraceAndNeverFreed) {
  PVOID handler = AddVectoredExceptionHandler(1, skip_breakpoint);
  ASSERT_NE(handler, nullptr);
  char* block = static_cast<char*>(guarded_alloc(16));
  std::memset(block - 4, 0, 4);  // a wrong guard word
  guarded_free(block);
  RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(breakpoints_seen, 1) << "a bad release stops at a debugger break";
  const TraceLog& log = trace_log();
  ASSERT_NE(log.buffer.data, nullptr);
  const std::string line(log.buffer.data, static_cast<size_t>(log.position));
  EXPECT_EQ(line.rfind("WRONG PTR IN QV_FREE from ", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_EQ(log.buffer.data[log.position], '\0');
  // The block is still ours: write to it and release it properly.
  const uint32_t guard = kGuardWord;
  std::memcpy(block - 4, &guard, 4);
  guarded_free(block);
}
#endif

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--exhaust-heap") == 0) {
    // n + 4 overflows: the request becomes 0xFFFFFFFF bytes and fails.
    void* block = guarded_alloc(0xFFFFFFFEu);
    return block != nullptr ? 7 : 8;  // never reached
  }
  if (argc > 1 && std::strcmp(argv[1], "--long-box") == 0) {
    const std::string text(2000, 'w');
    show_error_box("%s%s", text.c_str(), "tail");
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
