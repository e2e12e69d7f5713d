// Result codes of the record store, their messages, the code of a file error, and the calling
// thread's last code.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "platform/file_error.h"

namespace pennacle {

// Every code of the message table: 0 for success, a negative number for a failure. A function that
// returns a DbCode must have its result looked at; one dropped on purpose is assigned to std::ignore.
enum class [[nodiscard]] DbCode : int32_t{
    Ok = 0,
    Unknown = -1,
    CreateFailed = -2,
    NotFound = -3,
    BadPath = -4,
    TooManyFiles = -5,
    AccessDenied = -6,
    BadHandle = -7,
    RemoveCurrentDirectory = -8,
    TooManyDirectories = -9,
    SeekFailed = -10,
    HardwareFault = -11,
    Sharing = -12,
    LockFile = -13,
    DiskFull = -14,
    EndOfFile = -15,
    NoFields = -16,
    BadFieldType = -17,
    BadFieldName = -18,
    BadFieldSize = -19,
    DuplicateField = -20,
    OpenFailed = -21,
    NotDatabase = -22,
    VersionTooHigh = -23,
    BadAlias = -24,
    BeforeFirst = -25,
    AfterLast = -26,
    NothingOpen = -27,
    LockFailed = -28,
    UnlockFailed = -29,
    IndexOpenFailed = -30,
    IndexDamaged = -31,
    IndexVersion = -32,
    IndexAlreadyOpen = -33,
    TooManyIndexes = -34,
    AuxReadFailed = -35,
    AuxVersion = -36,
    AuxDamaged = -37,
    AlreadyOpen = -38,
    TooManyIndexFields = -39,
    FieldNotFound = -40,
    IndexCreateFailed = -41,
    IndexOnChainField = -42,
    IndexFieldMissing = -43,
    NoSuchRecord = -44,
    NoMemory = -45,
    FieldReadFailed = -46,
    FieldWriteFailed = -47,
    FileSize = -48,
    IndexFileSize = -49,
    AuxCreateFailed = -50,
    IndexAddFailed = -51,
    IndexAccessFailed = -52,
    IndexFieldWidth = -53,
    IndexFieldType = -54,
    OutOfMemory = -55,
    IndexKeyTooLarge = -56,
    LastIndexEntry = -57,
    IndexEntryMissing = -58,
    AuxAccess = -59,
    NoCurrentRecord = -60,
    NoSuchField = -61,
    RecordReadFailed = -62,
    RecordWriteFailed = -63,
    IndexUpdateFailed = -64,
    CountFailed = -65,
    DatabaseNotOpen = -66,
    NoCurrentDatabase = -67,
    NoSuchIndex = -68,
    NoCurrentIndex = -69,
    BadFieldKind = -70,
    NoFieldOrKind = -71,
    KindMismatch = -72,
    SearchValueCount = -73,
    NotExclusive = -74,
    ExpressionFailed = -75,
    ExpressionKind = -76,
    Password = -78,
    PasswordUpdateFailed = -79,
    BadPasswordText = -80,
};

constexpr int32_t code_number(DbCode code) { return static_cast<int32_t>(code); }

// Another process holds what the operation needed (with the wait time 0, at once).
constexpr bool is_lock_conflict(DbCode code) { return code == DbCode::LockFile || code == DbCode::Sharing; }

// The message of a code (GBK): "" for Ok, the message of Unknown for a number without a row.
std::string_view db_error_text(DbCode code);

// The code of a file error: the cause's own code (NotFound, AccessDenied, LockFile ...), Ok for
// None and for a file system that cannot lock (callers treat that as locked), and `generic` for a
// failure without a cause of its own.
DbCode db_code_of(FileCause cause, DbCode generic = DbCode::Unknown);

// "-13 (加锁文件失败)": the number and its message in UTF-8, for test failures and diagnostics.
std::ostream& operator<<(std::ostream& out, DbCode code);

// The calling thread's last result code; Ok before its first store operation.
DbCode db_last_error();
void set_db_last_error(DbCode code);

}  // namespace pennacle
