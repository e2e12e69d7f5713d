// Result codes of the record store, their messages, and the calling thread's last code.
#pragma once

#include <cstdint>
#include <string_view>

namespace pennacle {

// Codes the store's operations leave; the full vocabulary is in the message table.
inline constexpr int32_t kDbOk = 0;
inline constexpr int32_t kDbUnknown = -1;
inline constexpr int32_t kDbCreateFailed = -2;
inline constexpr int32_t kDbNotFound = -3;
inline constexpr int32_t kDbBadPath = -4;
inline constexpr int32_t kDbSeekFailed = -10;
inline constexpr int32_t kDbSharing = -12;
inline constexpr int32_t kDbLockFile = -13;
inline constexpr int32_t kDbNoFields = -16;
inline constexpr int32_t kDbBadFieldType = -17;
inline constexpr int32_t kDbBadFieldName = -18;
inline constexpr int32_t kDbBadFieldSize = -19;
inline constexpr int32_t kDbDuplicateField = -20;
inline constexpr int32_t kDbOpenFailed = -21;
inline constexpr int32_t kDbNotDatabase = -22;
inline constexpr int32_t kDbVersionTooHigh = -23;
inline constexpr int32_t kDbBadAlias = -24;
inline constexpr int32_t kDbBeforeFirst = -25;
inline constexpr int32_t kDbAfterLast = -26;
inline constexpr int32_t kDbLockFailed = -28;
inline constexpr int32_t kDbUnlockFailed = -29;
inline constexpr int32_t kDbIndexOpenFailed = -30;
inline constexpr int32_t kDbTooManyIndexes = -34;
inline constexpr int32_t kDbAuxReadFailed = -35;
inline constexpr int32_t kDbAuxVersion = -36;
inline constexpr int32_t kDbAuxDamaged = -37;
inline constexpr int32_t kDbAlreadyOpen = -38;
inline constexpr int32_t kDbNoMemory = -45;
inline constexpr int32_t kDbFieldReadFailed = -46;
inline constexpr int32_t kDbFileSize = -48;
inline constexpr int32_t kDbAuxAccess = -59;
inline constexpr int32_t kDbNoCurrentRecord = -60;
inline constexpr int32_t kDbRecordReadFailed = -62;
inline constexpr int32_t kDbCountFailed = -65;
inline constexpr int32_t kDbNoCurrentDatabase = -67;
inline constexpr int32_t kDbKindMismatch = -72;
inline constexpr int32_t kDbPassword = -78;

// The message of a code (GBK): "" for 0, the message of -1 for a code without a row.
std::string_view db_error_text(int32_t code);

// The calling thread's last result code; 0 before its first store operation.
int32_t db_last_error();
void set_db_last_error(int32_t code);

}  // namespace pennacle
