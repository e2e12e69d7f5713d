#include "platform/file_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pennacle {
namespace {

// A lock call that fails with EAGAIN or EACCES met another open's lock: that is a conflict the store
// retries, never an access problem it gives up on.
TEST(FileError, LockCallsReadEaccesAsAConflictNotAsDeniedAccess) {
  EXPECT_EQ(file_cause_from_errno(EAGAIN, true), FileCause::LockViolation);
  EXPECT_EQ(file_cause_from_errno(EACCES, true), FileCause::LockViolation);
  EXPECT_EQ(file_cause_from_errno(EACCES, false), FileCause::AccessDenied);
  EXPECT_EQ(file_cause_from_errno(ENOLCK, true), FileCause::LockUnsupported);
  EXPECT_EQ(file_cause_from_errno(EBADF, true), FileCause::BadHandle);
}

}  // namespace
}  // namespace pennacle
