#include "platform/program_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace pennacle {
namespace {

TEST(ProgramDirectoryOf, SplitsAtTheLastSlash) {
  ProgramDirectory d = program_directory_of("/home/me/ledger/pennacle");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.utf8, "/home/me/ledger");
  EXPECT_EQ(d.gbk, "/home/me/ledger");
  EXPECT_EQ(program_directory_of("/pennacle").utf8, "");  // the root: data file "/data.kdb"
  EXPECT_EQ(program_directory_of("pennacle").utf8, "");
}

TEST(ProgramDirectoryOf, ConvertsToGbkOrFailsClearly) {
  // "账本" written as UTF-8 bytes (this file's literals are GBK).
  ProgramDirectory d = program_directory_of("/home/\xE8\xB4\xA6\xE6\x9C\xAC/x");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.gbk, "/home/账本");
  EXPECT_EQ(d.utf8, "/home/\xE8\xB4\xA6\xE6\x9C\xAC");
  ProgramDirectory bad = program_directory_of("/home/\xF0\x9F\x98\x80/x");  // an emoji: not in GBK
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("GBK"), std::string::npos);
  EXPECT_FALSE(program_directory_of("/home/\xFF/x").ok);  // not UTF-8 at all
}

TEST(ProgramDirectory, ReadsTheRunningProgram) {
  ProgramDirectory d = read_program_directory();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(access((d.utf8 + "/program_path_test").c_str(), X_OK), 0);
}

TEST(SetCurrentDirectory, EmptyIsTheRootAndMissingFails) {
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  std::string error;
  ASSERT_TRUE(set_current_directory("", error)) << error;
  char cwd[16];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_STREQ(cwd, "/");
  EXPECT_FALSE(set_current_directory("/no/such/directory/here", error));
  EXPECT_NE(error.find("ENOENT"), std::string::npos);
  ASSERT_TRUE(set_current_directory(saved, error));
}

}  // namespace
}  // namespace pennacle
