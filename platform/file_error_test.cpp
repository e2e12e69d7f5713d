#include "platform/file_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pennacle {
namespace {

int32_t code_of(int err, bool locking = false) {
  return file_cause_code(file_cause_from_errno(err, locking));
}

TEST(FileError, ErrnoMapsToTheStoreCodes) {
  EXPECT_EQ(code_of(0), 0);
  EXPECT_EQ(code_of(ENOENT), -3);
  EXPECT_EQ(code_of(ENOTDIR), -4);
  EXPECT_EQ(code_of(ENAMETOOLONG), -4);
  EXPECT_EQ(code_of(EMFILE), -5);
  EXPECT_EQ(code_of(ENFILE), -5);
  EXPECT_EQ(code_of(EACCES), -6);
  EXPECT_EQ(code_of(EROFS), -6);
  EXPECT_EQ(code_of(EBADF), -7);
  EXPECT_EQ(code_of(ESPIPE), -10);
  EXPECT_EQ(code_of(EIO), -11);
  EXPECT_EQ(code_of(ENOSPC), -14);
  EXPECT_EQ(code_of(EDQUOT), -14);
  EXPECT_EQ(code_of(EFBIG), -14);
  EXPECT_EQ(code_of(ECONNRESET), -1);
}

TEST(FileError, LockCallsReadEaccesAsAConflictNotAsDeniedAccess) {
  EXPECT_EQ(code_of(EAGAIN, true), -13);
  EXPECT_EQ(code_of(EACCES, true), -13);
  EXPECT_EQ(file_cause_from_errno(ENOLCK, true), FileCause::LockUnsupported);
  EXPECT_EQ(code_of(EBADF, true), -7);
  EXPECT_EQ(file_cause_code(FileCause::SharingViolation), -12);
  EXPECT_EQ(file_cause_code(FileCause::EndOfFile), -15);
}

}  // namespace
}  // namespace pennacle
