// Making a new empty database (kdbtool create, tests); the program itself never creates one.
#include <memory>
#include <tuple>

#include "store/aux_file.h"
#include "store/database.h"
#include "store/paths.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

constexpr int32_t kFirstFieldType = static_cast<int32_t>(FieldType::Byte);
constexpr int32_t kLastFieldType = static_cast<int32_t>(FieldType::Memo);
// A field name is shorter than 16 characters.
constexpr size_t kMaxNameChars = 15;

DbCode check_fields(const std::vector<FieldSpec>& fields) {
  if (fields.empty()) return DbCode::NoFields;
  int64_t length = kSerialSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    const int32_t t = static_cast<int32_t>(f.type);
    if (t < kFirstFieldType || t > kLastFieldType) return DbCode::BadFieldType;
    if (f.name.size() > static_cast<size_t>(kMaxNameBytes) || !valid_name(f.name, kMaxNameChars)) {
      return DbCode::BadFieldName;
    }
    if (f.type == FieldType::Text && f.width < 1) return DbCode::BadFieldSize;
    length += field_width(f.type, f.width);
    if (length > kMaxRecordLength) return DbCode::BadFieldSize;
    for (size_t j = 0; j < i; ++j) {
      if (names_equal(fields[j].name, f.name)) return DbCode::DuplicateField;
    }
  }
  return DbCode::Ok;
}

// The bytes of an empty record file with these fields, which follow the serial in table order.
std::string empty_record_file(const std::vector<FieldSpec>& fields) {
  std::vector<FieldDescriptor> descs;
  int32_t offset = static_cast<int32_t>(kSerialSize);
  for (const FieldSpec& s : fields) {
    descs.push_back(FieldDescriptor{s.name, s.type, offset, s.type == FieldType::Text ? s.width : 0});
    offset += static_cast<int32_t>(field_width(s.type, s.width));
  }
  std::string bytes(static_cast<size_t>(kFieldTableOffset + kDescriptorSize * descs.size()), '\0');
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  std::memcpy(p, kPlainMagic, sizeof kPlainMagic);
  put_i32(p + kVersionOffset, static_cast<int32_t>(kFileVersion));
  put_i32(p + kCountOffset, 0);
  put_i32(p + kNextSerialOffset, 1);
  put_i32(p + kRecordLengthOffset, offset);
  put_i32(p + kFieldCountOffset, static_cast<int32_t>(descs.size()));
  for (size_t i = 0; i < descs.size(); ++i)
    encode_descriptor(descs[i], p + kFieldTableOffset + kDescriptorSize * i);
  return bytes;
}

// A new file with `bytes`, on the disk with its directory entry before it returns; removed again
// when it cannot be made whole.
DbCode write_new_file(FileSystem& fs, const std::string& path, const std::string& bytes) {
  std::unique_ptr<File> f;
  FileCause c = fs.create(path, &f);
  if (c == FileCause::AccessDenied) return DbCode::CreateFailed;
  if (c != FileCause::None) return db_code_of(c, DbCode::CreateFailed);
  c = f->write_at(0, bytes.data(), bytes.size());
  if (c == FileCause::None) c = f->sync();
  f->close();
  if (c == FileCause::None) c = fs.sync_directory_of(path);
  if (c != FileCause::None) {
    std::ignore = fs.remove(path);  // the failure reported is the write's
    return db_code_of(c, DbCode::CreateFailed);
  }
  return DbCode::Ok;
}

DbCode create_files(const std::string& full, const std::vector<FieldSpec>& fields) {
  const std::string bytes = empty_record_file(fields);
  const bool needs_aux =
      std::any_of(fields.begin(), fields.end(), [](const FieldSpec& f) { return is_chain_type(f.type); });
  Registry& reg = registry();
  MutexLock g(reg.mu);
  FileSystem& fs = reg.files();
  // The auxiliary file first: a database is never left without the one it needs.
  const std::string aux = aux_path_of(full);
  if (needs_aux) {
    if (DbCode rc = write_new_file(fs, aux, empty_aux_file(kFileVersion)); rc != DbCode::Ok) return rc;
  }
  const DbCode rc = write_new_file(fs, full, bytes);
  if (rc != DbCode::Ok && needs_aux) std::ignore = fs.remove(aux);  // the failure reported is the file's
  return rc;
}

}  // namespace

DbCode create_database(std::string_view gbk_path, const std::vector<FieldSpec>& fields) {
  DbCode rc = check_fields(fields);
  if (rc == DbCode::Ok) {
    const std::string full = full_path_of(gbk_path);
    rc = full.empty() ? DbCode::BadPath : create_files(full, fields);
  }
  set_db_last_error(rc);
  return rc;
}

}  // namespace pennacle
