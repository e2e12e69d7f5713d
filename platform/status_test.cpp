#include "platform/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "platform/file.h"

namespace pennacle {
namespace {

// A failed open names the file and keeps the number the host gave, so a message can say both.
TEST(Status, AFileFailureCarriesThePathAndTheHostsErrorNumber) {
  std::unique_ptr<File> f;
  const FileCause cause =
      posix_file_system().open("/nonexistent-dir/data.kdb", FileAccess::Read, FileShare::DenyNone, &f);
  ASSERT_EQ(cause, FileCause::NotFound);
  const Status s = Status::file(cause, "/nonexistent-dir/data.kdb", "cannot open");
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code(), StatusCode::File);
  EXPECT_EQ(s.path(), "/nonexistent-dir/data.kdb");
  EXPECT_EQ(s.sys_errno(), ENOENT);
  EXPECT_EQ(s.message(), "/nonexistent-dir/data.kdb: cannot open: No such file or directory");
}

// A fault that did not come from the host (an injected one) still gets a number that matches its
// cause, never a stale number left by an earlier, unrelated failure.
TEST(Status, ACauseWithoutAHostErrorGetsANumberOfItsOwn) {
  std::ignore = file_cause_from_errno(EACCES);
  const Status s = Status::file(FileCause::DiskFull, "a", "cannot write");
  EXPECT_EQ(s.sys_errno(), ENOSPC);
}

TEST(Status, ContextGoesInFrontOfAFailureAndLeavesSuccessAlone) {
  EXPECT_EQ(Status::invalid("13 cells").with_context("line 4").message(), "line 4: 13 cells");
  EXPECT_TRUE(Status().with_context("line 4").ok());
  const Result<int> r = Status::not_found("no sheet");
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::NotFound);
  EXPECT_EQ(Result<int>(7).value(), 7);
}

}  // namespace
}  // namespace pennacle
