// The common helpers as the tool build has them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "guarded_alloc.h"
#include "text.h"

TEST(PathFilePart, TakesTheTextAfterTheLastBackslash) {
  const char* path = "C:\\Games\\Pack";
  EXPECT_STREQ(path_file_part(path), "Pack");
  EXPECT_EQ(path_file_part(path), path + 9);
  const char* bare = "Pack";
  EXPECT_EQ(path_file_part(bare), bare);
  const char* ends = "C:\\Games\\";
  EXPECT_EQ(path_file_part(ends), ends + 9) << "a trailing backslash gives the empty text at its end";
  EXPECT_EQ(*path_file_part(ends), '\0');
  const char* forward = "a/b";
  EXPECT_EQ(path_file_part(forward), forward) << "forward slashes are not separators";
  EXPECT_EQ(path_file_part(static_cast<const char*>(nullptr)), nullptr);
}

TEST(GuardedAlloc, MarksEachBlockAndReleasesIt) {
  char* a = static_cast<char*>(guarded_alloc(0));
  char* b = static_cast<char*>(guarded_alloc(0));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b) << "size 0 still gives distinct blocks";
  uint32_t guard = 0;
  std::memcpy(&guard, a - 4, 4);
  EXPECT_EQ(guard, kGuardWord);
  char* c = static_cast<char*>(guarded_alloc(100));
  std::memset(c, 0x5A, 100);
  std::memcpy(&guard, c - 4, 4);
  EXPECT_EQ(guard, 0x0BADF00Du);
  guarded_free(a);
  guarded_free(b);
  guarded_free(c);
  guarded_free(nullptr);  // does nothing
}

TEST(FormatTemp, RotatesThroughThirtyTwoBuffers) {
  const char* first = format_temp("%s\\_QV3_Data\\%s", "C:\\Game", "Settings");
  EXPECT_STREQ(first, "C:\\Game\\_QV3_Data\\Settings");
  const char* seen[32];
  seen[0] = first;
  for (int i = 1; i < 32; ++i) {
    seen[i] = format_temp("%d", i);
    EXPECT_NE(seen[i], first) << "call " << i + 1 << " must not reuse the first buffer";
  }
  EXPECT_STREQ(first, "C:\\Game\\_QV3_Data\\Settings") << "a result stays valid for the next 31 calls";
  EXPECT_EQ(format_temp("x"), first) << "the 33rd call reuses the first buffer";
}

TEST(FormatTemp, CutsALongResultAndTerminatesIt) {
  const std::string big(5000, 'a');
  const char* text = format_temp("%s%s", big.c_str(), "tail");
  EXPECT_EQ(std::strlen(text), 1023u);
  // The neighbouring buffer is untouched.
  const char* next = format_temp("next");
  EXPECT_STREQ(next, "next");
  EXPECT_EQ(std::strlen(text), 1023u);
}

TEST(CopyPath, BoundsTheCopyTo259Characters) {
  char buffer[kPathSize + 8];
  std::memset(buffer, '#', sizeof buffer);
  copy_path(buffer, "qel.ini");
  EXPECT_STREQ(buffer, "qel.ini");
  const std::string exact(259, 'p');
  copy_path(buffer, exact.c_str());
  EXPECT_EQ(std::string(buffer), exact);
  std::memset(buffer, '#', sizeof buffer);
  const std::string longer(400, 'q');
  copy_path(buffer, longer.c_str());
  EXPECT_EQ(std::strlen(buffer), 259u);
  EXPECT_EQ(buffer[260], '#') << "nothing is written past the 260-byte buffer";
  copy_path(buffer, nullptr);
  EXPECT_STREQ(buffer, "");
}
