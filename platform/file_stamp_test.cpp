#include "platform/file_stamp.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <string>

#include "testing/temp_dir.h"

namespace pennacle {
namespace {

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// A change right after a stamp, of the same size, in place: the stamp taken before it differs from
// the one after, however quickly the two changes follow each other.
TEST(FileStamp, AnyChangeAfterASettledStampGivesAnotherStamp) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/f";
  write_file(path, "aaaa");
  for (int round = 0; round < 20; ++round) {
    const FileStamp before = settled_file_stamp(path);
    ASSERT_TRUE(before.exists);
    EXPECT_GE(now_ns() - before.modified_ns, kStampTickNs);
    write_file(path, round % 2 ? "aaaa" : "bbbb");
    EXPECT_NE(settled_file_stamp(path), before) << "round " << round;
  }
}

TEST(FileStamp, ReplacedRemovedAndUnreadablePaths) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/f", other = dir.path() + "/g";
  write_file(path, "same");
  write_file(other, "same");
  const FileStamp first = settled_file_stamp(path);
  EXPECT_EQ(settled_file_stamp(path), first) << "nothing changed";
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  const FileStamp replaced = settled_file_stamp(path);
  EXPECT_NE(replaced, first) << "a file renamed over it is another file";
  ASSERT_EQ(std::remove(path.c_str()), 0);
  EXPECT_FALSE(settled_file_stamp(path).exists);
  EXPECT_FALSE(settled_file_stamp("").exists);
  EXPECT_FALSE(settled_file_stamp(std::string("\x81", 1)).exists) << "not GBK";
}

}  // namespace
}  // namespace pennacle
