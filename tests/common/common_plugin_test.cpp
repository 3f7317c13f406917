// The plug-in build's growable buffer and trace log.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "grow_buffer.h"
#include "guarded_alloc.h"
#include "trace_log.h"

namespace {
bool all_zero(const char* p, int from, int to) {
  for (int i = from; i < to; ++i)
    if (p[i] != 0) return false;
  return true;
}
}  // namespace

TEST(GrowBuffer, GrowsAndShrinksInStepsOf5000) {
  GrowBuffer b{nullptr, 0, 0};
  b.Resize(1);
  ASSERT_NE(b.data, nullptr);
  EXPECT_EQ(b.capacity, 5000);
  EXPECT_EQ(b.size, 1);
  EXPECT_TRUE(all_zero(b.data, 0, 5000)) << "new room is zeroed";
  std::memset(b.data, 'k', 5000);
  char* first = b.data;
  b.Resize(10);
  EXPECT_EQ(b.data, first) << "same step, same block";
  EXPECT_EQ(b.size, 10);
  b.Resize(5001);
  EXPECT_EQ(b.capacity, 10000);
  EXPECT_EQ(b.size, 5001);
  EXPECT_EQ(std::string(b.data, 5000), std::string(5000, 'k')) << "the first 5000 bytes are kept";
  EXPECT_TRUE(all_zero(b.data, 5000, 10000));
  b.Resize(4999);
  EXPECT_EQ(b.capacity, 5000) << "the block shrinks as well";
  EXPECT_EQ(std::string(b.data, 5000), std::string(5000, 'k'));
  b.Resize(0);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.size, 0);
  EXPECT_EQ(b.capacity, 0);
}

TEST(TraceLog, AppendsCrLfLinesFollowedByOneZero) {
  TraceLog& log = trace_log();
  ASSERT_EQ(log.buffer.data, nullptr) << "empty at load";
  ASSERT_EQ(log.position, 0);
  trace_printf("abc");
  ASSERT_NE(log.buffer.data, nullptr);
  EXPECT_EQ(std::string(log.buffer.data, 6), std::string("abc\r\n\0", 6));
  EXPECT_EQ(log.position, 5);
  EXPECT_EQ(log.buffer.size, 6);
  EXPECT_EQ(log.buffer.capacity, 5000);
  trace_printf("WRONG PTR IN QV_FREE from %X", 0x401A2Bu);
  const std::string second = "WRONG PTR IN QV_FREE from 401A2B\r\n";
  EXPECT_EQ(std::string(log.buffer.data + 5, second.size() + 1), second + std::string(1, '\0'))
      << "the second line starts over the zero byte";
  EXPECT_EQ(log.position, 5 + static_cast<int>(second.size()));
  EXPECT_EQ(log.buffer.size, log.position + 1);
  // Many lines cross the 5000-byte step without losing the text before.
  for (int i = 0; i < 600; ++i) trace_printf("line %03d", i);
  EXPECT_EQ(log.buffer.size, log.position + 1);
  EXPECT_EQ(log.buffer.capacity % 5000, 0);
  EXPECT_GT(log.buffer.capacity, 5000);
  EXPECT_EQ(std::string(log.buffer.data, 5), "abc\r\n");
  EXPECT_EQ(std::string(log.buffer.data + log.position - 10, 11), std::string("line 599\r\n\0", 11));
  // A line longer than the scratch buffer is cut, never overrun.
  const std::string huge(3 * kTraceLineSize, 'z');
  const int before = log.position;
  trace_printf("%s", huge.c_str());
  EXPECT_EQ(log.position - before, kTraceLineSize - 1 + 2);
}
