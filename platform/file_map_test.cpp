#include "platform/file_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/file.h"
#include "testing/temp_dir.h"

namespace pennacle {
namespace {

constexpr size_t kPage = 4096;

// Bytes that differ from page to page, so a copy from the wrong place shows.
std::string pattern(size_t n, char salt) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i / 7 + static_cast<size_t>(salt)) & 0x7f);
  return s;
}

class FileMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = tmp_.write("m.bin", pattern(8 * kPage, 'a'));
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  std::string copy(uint64_t offset, size_t n, bool* ok) {
    std::string out(n, '\0');
    *ok = map_.copy(fd_, offset, out.data(), n);
    return out;
  }

  testing::TempDir tmp_;
  std::string path_;
  int fd_ = -1;
  FileMap map_;
};

// The mapping and pread see one page cache: a write made through another descriptor after the
// mapping was made is what the next copy gives, and bytes past the end are not copied until the
// file grows to hold them.
TEST_F(FileMapTest, CopiesWhatTheFileHoldsNowAndNothingPastItsEnd) {
  bool ok = false;
  EXPECT_EQ(copy(3 * kPage - 5, 10, &ok), pattern(8 * kPage, 'a').substr(3 * kPage - 5, 10));
  EXPECT_TRUE(ok);
  const int other = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(pwrite(other, "written", 7, 3 * kPage), 7);
  EXPECT_EQ(copy(3 * kPage, 7, &ok), "written");
  EXPECT_TRUE(ok);

  copy(8 * kPage - 2, 4, &ok);  // two bytes past the end
  EXPECT_FALSE(ok);
  copy(UINT64_MAX - 2, 4, &ok);  // an offset whose end does not fit
  EXPECT_FALSE(ok);
  const std::string more = pattern(kPage, 'q');
  ASSERT_EQ(pwrite(other, more.data(), more.size(), 8 * kPage), static_cast<ssize_t>(more.size()));
  EXPECT_EQ(copy(8 * kPage - 2, 4, &ok), pattern(8 * kPage, 'a').substr(8 * kPage - 2) + more.substr(0, 2));
  EXPECT_TRUE(ok);
  ::close(other);

  map_.reset();  // mapped again on the next copy
  EXPECT_EQ(copy(9 * kPage - 3, 3, &ok), more.substr(kPage - 3));
  EXPECT_TRUE(ok);
  EXPECT_FALSE(map_.copy(-1, 0, &ok, 1));
}

// Another open cuts the file shorter after the mapping learned its length: a copy from a page
// that is gone is refused, not a bus error that ends the program, and the bytes still there copy.
TEST_F(FileMapTest, AFileCutShorterBehindItsBackRefusesTheBytesThatAreGone) {
  bool ok = false;
  copy(7 * kPage, 16, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(ftruncate(fd_, 2 * kPage), 0);
  for (int round = 0; round < 3; ++round) {  // the handler stays in place for the next fault
    copy(5 * kPage + 100, 16, &ok);
    EXPECT_FALSE(ok);
    copy(kPage, kPage, &ok);  // ends exactly at the new end
    EXPECT_TRUE(ok);
  }
  copy(3 * kPage - 8, 16, &ok);  // straddles a page that is gone
  EXPECT_FALSE(ok);
}

// A file cut shorter through the File that owns the mapping: the bytes past the new end in its last
// page are refused, as a read would find them gone, not copied as the zeros the page holds there.
TEST(FileMapThroughFile, ACutThroughTheSameOpenIsNeverReadFromTheMapping) {
  testing::TempDir tmp;
  const std::string path = tmp.write("c.bin", pattern(4 * kPage, 'c'));
  std::unique_ptr<File> f;
  ASSERT_EQ(posix_file_system().open(path, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
  char out[16];
  ASSERT_TRUE(f->read_mapped(3 * kPage, out, sizeof out));
  ASSERT_EQ(f->set_size(kPage + 100), FileCause::None);
  EXPECT_FALSE(f->read_mapped(kPage + 90, out, sizeof out));  // runs 6 bytes past the new end
  EXPECT_TRUE(f->read_mapped(kPage + 84, out, sizeof out));
  EXPECT_EQ(std::string(out, sizeof out), pattern(4 * kPage, 'c').substr(kPage + 84, sizeof out));
  ASSERT_EQ(f->set_size(2 * kPage), FileCause::None);  // grown again: zeros, as a read finds them
  EXPECT_TRUE(f->read_mapped(kPage + 90, out, sizeof out));
  EXPECT_EQ(std::string(out + 10, 6), std::string(6, '\0'));
}

// The handler catches only faults inside a guarded copy: any other bus error ends the program as
// it would have without the guard.
TEST_F(FileMapTest, ABusErrorOutsideAGuardedCopyStillEndsTheProgram) {
  bool ok = false;
  copy(0, 8, &ok);  // the handler is in place
  ASSERT_TRUE(ok);
  void* raw = mmap(nullptr, 4 * kPage, PROT_READ, MAP_SHARED, fd_, 0);
  ASSERT_NE(raw, MAP_FAILED);
  ASSERT_EQ(ftruncate(fd_, kPage), 0);
  const volatile char* gone = static_cast<const char*>(raw) + 3 * kPage;
  EXPECT_DEATH(std::fprintf(stderr, "%d", *gone), "");
  char out[8];
  EXPECT_FALSE(copy_guarded(out, static_cast<const char*>(raw) + 2 * kPage, sizeof out));
  EXPECT_TRUE(copy_guarded(out, raw, sizeof out));
  munmap(raw, 4 * kPage);
}

}  // namespace
}  // namespace pennacle
