// Byte layouts of the record file and its auxiliary block file, and the rules for their fields.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "runtime/value.h"
#include "store/errors.h"

namespace pennacle {

enum class FieldType : int32_t {
  Byte = 1,
  Short = 2,
  Int = 3,
  Int64 = 4,
  Float = 5,
  Double = 6,
  Logical = 7,
  DateTime = 8,
  Subroutine = 9,
  Text = 10,
  ByteSet = 11,
  Memo = 12,
};

inline constexpr char kPlainMagic[4] = {'Q', 'K', 'D', 'B'};
inline constexpr char kProtectedMagic[4] = {'Q', 'C', 'D', 'B'};
inline constexpr char kAuxMagic[4] = {'Q', 'K', 'D', 'T'};
inline constexpr uint32_t kFileVersion = 0x00010000;

inline constexpr int64_t kHeaderSize = 112;
inline constexpr int64_t kVersionOffset = 4;
inline constexpr int64_t kCountOffset = 16;  // record count, then next serial: one 8-byte unit
inline constexpr int64_t kNextSerialOffset = 20;
inline constexpr int64_t kRecordLengthOffset = 24;
inline constexpr int64_t kPasswordCheckOffset = 28;
inline constexpr size_t kPasswordCheckSize = 32;
inline constexpr int64_t kFieldCountOffset = 112;
inline constexpr int64_t kDescriptorSize = 72;
inline constexpr int64_t kFieldTableOffset = 116;
inline constexpr int64_t kSerialSize = 4;
inline constexpr int64_t kNameBytes = 20;
inline constexpr int64_t kMaxNameBytes = 16;

inline constexpr int64_t kAuxBlockSize = 512;
inline constexpr int64_t kAuxHeaderSize = 32;
inline constexpr int64_t kAuxLinkSize = 12;  // previous, next, used
inline constexpr int64_t kAuxDataSize = 500;

// Every position the store addresses lies below the end of the whole-file lock range, so a lock
// position always fits 32 bits.
inline constexpr int64_t kWholeFileLength = 0x7FFFFFFF;
// A record is built in one buffer; a length beyond this is not one the store would have written.
inline constexpr int64_t kMaxRecordLength = 1 << 24;
inline constexpr int64_t kMaxAuxBlocks = kWholeFileLength / kAuxBlockSize;

inline int32_t get_i32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return static_cast<int32_t>(v);
}
inline void put_i32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

struct FileHeader {
  std::array<uint8_t, kHeaderSize> raw{};

  bool plain() const { return std::memcmp(raw.data(), kPlainMagic, 4) == 0; }
  bool protected_file() const { return std::memcmp(raw.data(), kProtectedMagic, 4) == 0; }
  uint32_t version() const { return static_cast<uint32_t>(get_i32(&raw[kVersionOffset])); }
  int32_t record_count() const { return get_i32(&raw[kCountOffset]); }
  int32_t next_serial() const { return get_i32(&raw[kNextSerialOffset]); }
  int32_t record_length() const { return get_i32(&raw[kRecordLengthOffset]); }
  std::string_view password_check() const {
    return {reinterpret_cast<const char*>(&raw[kPasswordCheckOffset]), kPasswordCheckSize};
  }
};

struct FieldDescriptor {
  std::string name;  // GBK, up to 16 bytes
  FieldType type = FieldType::Int;
  int32_t offset = 0;
  int32_t width = 0;  // as stored; only text fields use it
};

// Bytes a field occupies in a record.
int64_t field_width(FieldType type, int32_t stored_width);
// The value kind that reading a field yields.
Kind field_kind(FieldType type);
inline bool is_chain_type(FieldType t) { return t == FieldType::ByteSet || t == FieldType::Memo; }

// Decodes one 72-byte descriptor. False when its name is not terminated within 17 bytes.
bool parse_descriptor(const uint8_t* p, FieldDescriptor* out);
void encode_descriptor(const FieldDescriptor& d, uint8_t* p);

// The open-time check of a field table against the record length: names terminated, types 1..12,
// text widths 1 or more, and every field inside the record, clear of the serial and of every other
// field (a field reaching outside would make an append write outside its record).
bool descriptors_valid(const std::vector<FieldDescriptor>& fields, int64_t record_length);

// Name rule of field names and aliases: the first character a half- or full-width letter or a
// Chinese character, the others letters, digits or Chinese characters, at most `max_chars`.
bool valid_name(std::string_view gbk, size_t max_chars);
// Case-insensitive comparison by characters (ASCII and full-width letters fold).
bool names_equal(std::string_view a, std::string_view b);

// Stores a value in a record by its field's type (not chain types). The value's kind must match
// (checked by the caller).
void encode_field(const FieldDescriptor& f, const Value& v, uint8_t* record);
// The value of a stored field (not chain types); texts are new blocks owned by the caller.
Value decode_field(const FieldDescriptor& f, const uint8_t* bytes);
// True when the value's kind may be stored in the field: equal kinds, or both numeric.
bool kind_fits(const FieldDescriptor& f, const Value& v);

// Truncation toward zero with the result x86 gives for NaN and values out of range.
int64_t truncate_to_int64(double d);

// The 32 characters a protected file keeps for its password: the MD5 digest of the password's
// bytes as lower-case hex, every two neighbours swapped, the whole reversed.
std::string password_check_of(std::string_view password);

struct AuxHeader {
  uint32_t version = kFileVersion;
  int32_t block_count = 1;
  int32_t free_count = 0;
  int32_t first_free = 0;
  bool magic_ok = true;

  static AuxHeader parse(const uint8_t* p);
  void encode(uint8_t* p) const;  // 32 bytes
  // Counts and the free-list head inside the file's blocks.
  bool sane() const {
    return block_count >= 1 && block_count <= kMaxAuxBlocks && free_count >= 0 && free_count < block_count &&
           first_free >= 0 && first_free < block_count;
  }
};

struct AuxLinks {
  int32_t previous = 0;
  int32_t next = 0;
  int32_t used = 0;
  static AuxLinks parse(const uint8_t* p) { return {get_i32(p), get_i32(p + 4), get_i32(p + 8)}; }
  void encode(uint8_t* p) const {
    put_i32(p, previous);
    put_i32(p + 4, next);
    put_i32(p + 8, used);
  }
};

// The record count (never below 0) and next serial: the 8 bytes at offset 16 of `file`, read as one
// unit. The caller holds the count slot, the whole file, or a SoleFile::Pinned hold that needs no lock.
[[nodiscard]] DbCode read_count_held(File& file, int32_t* count, int32_t* next);

}  // namespace pennacle
