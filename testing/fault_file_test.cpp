#include "testing/fault_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "testing/temp_dir.h"

namespace pennacle {
namespace {

// A file "a.bin" holding "0123456789" in a directory of its own.
class FaultFileTest : public ::testing::Test {
 protected:
  testing::TempDir tmp_;
  const std::string dir_ = tmp_.path();
  const std::string path_ = tmp_.write("a.bin", "0123456789");
};

TEST_F(FaultFileTest, FaultLayerFailsTheNthCallOnceAndCrashesAfterNWrites) {
  FaultFileSystem fs(posix_file_system());
  std::unique_ptr<File> f;
  ASSERT_EQ(fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
  fs.fail_nth(FileOp::Read, 2, FileCause::HardwareIo);
  char c;
  size_t got;
  EXPECT_EQ(f->read_at(0, &c, 1, &got), FileCause::None);
  EXPECT_EQ(f->read_at(0, &c, 1, &got), FileCause::HardwareIo);
  EXPECT_EQ(f->read_at(0, &c, 1, &got), FileCause::None);
  EXPECT_EQ(fs.calls(FileOp::Read), 3);

  fs.crash_after_writes(1);
  EXPECT_EQ(f->write_at(0, "A", 1), FileCause::None);
  EXPECT_EQ(f->write_at(1, "B", 1), FileCause::HardwareIo);
  EXPECT_EQ(f->set_size(2), FileCause::HardwareIo);
  EXPECT_TRUE(fs.crashed());
  char buf[10];
  ASSERT_EQ(f->read_at(0, buf, 10, &got), FileCause::None);
  EXPECT_EQ(std::string(buf, got), "A123456789");  // the lost writes never reached the file
}

TEST_F(FaultFileTest, PowerCutKeepsSyncedBytesAndWholeSectorsOfTheRest) {
  FaultFileSystem fs(posix_file_system());
  std::unique_ptr<File> f;
  ASSERT_EQ(fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
  ASSERT_EQ(f->write_at(0, "S", 1), FileCause::None);
  ASSERT_EQ(f->sync(), FileCause::None);
  const std::string news(3 * 512, 'n');
  ASSERT_EQ(f->write_at(256, news.data(), news.size()), FileCause::None);  // four sector pieces
  EXPECT_EQ(fs.unsynced_writes(), 1u);
  f->close();
  auto contents = [&] {
    std::ifstream in(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  fs.apply_power_cut(CutKeeps::Nothing, 0);
  EXPECT_EQ(contents(), "S123456789");
  fs.apply_power_cut(CutKeeps::Everything, 0);
  EXPECT_EQ(contents().size(), 256 + news.size());
  bool saw_mixed = false;
  for (uint32_t seed = 0; seed < 20; ++seed) {
    fs.apply_power_cut(CutKeeps::RandomSectors, seed);
    const std::string c = contents();
    ASSERT_EQ(c.substr(0, 10), "S123456789");
    // Every sector holds its old bytes or its new ones, never a mix inside a piece.
    std::set<char> pieces;
    for (size_t at = 256; at < c.size(); at = (at / 512 + 1) * 512) {
      const size_t end = std::min(c.size(), (at / 512 + 1) * 512);
      const std::string piece = c.substr(at, end - at);
      EXPECT_TRUE(piece == std::string(piece.size(), 'n') || piece.find('n') == std::string::npos) << at;
      pieces.insert(piece[0] == 'n' ? 'n' : 'o');
    }
    saw_mixed = saw_mixed || pieces.size() == 2;
  }
  EXPECT_TRUE(saw_mixed);
}

TEST_F(FaultFileTest, PowerCutLosesAFileWhoseDirectoryWasNotSynced) {
  FaultFileSystem fs(posix_file_system());
  std::unique_ptr<File> f;
  const std::string created = dir_ + "/new.bin";
  ASSERT_EQ(fs.create(created, &f), FileCause::None);
  ASSERT_EQ(f->write_at(0, "abc", 3), FileCause::None);
  ASSERT_EQ(f->sync(), FileCause::None);
  f->close();
  fs.apply_power_cut(CutKeeps::Nothing, 0);
  EXPECT_FALSE(std::filesystem::exists(created));
  ASSERT_EQ(fs.sync_directory_of(created), FileCause::None);
  fs.apply_power_cut(CutKeeps::Nothing, 0);
  EXPECT_TRUE(std::filesystem::exists(created));
  // A rename not yet synced may come undone: the old name back, the replaced file in place.
  ASSERT_EQ(fs.rename(created, path_), FileCause::None);
  fs.apply_power_cut(CutKeeps::Nothing, 0);
  EXPECT_TRUE(std::filesystem::exists(created));
}

TEST_F(FaultFileTest, CrashCountsSyncsAsStepsAndFailsEverythingAfter) {
  FaultFileSystem fs(posix_file_system());
  std::unique_ptr<File> f;
  ASSERT_EQ(fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &f), FileCause::None);
  fs.crash_after_writes(2);
  EXPECT_EQ(f->write_at(0, "A", 1), FileCause::None);
  EXPECT_EQ(f->sync(), FileCause::None);
  EXPECT_EQ(f->sync(), FileCause::HardwareIo);  // the power went before this sync
  EXPECT_EQ(f->write_at(0, "B", 1), FileCause::HardwareIo);
  EXPECT_EQ(fs.unsynced_writes(), 0u);
}

}  // namespace
}  // namespace pennacle
