// Reading fields: one (db_read_field) or the fields of a record whole (db_read_record). Both read
// a record's chains under the hold they take of the record (aux_file.h, read_chain).
#include "store/record_read.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "runtime/args.h"
#include "runtime/fatal.h"
#include "store/aux_file.h"
#include "store/database.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// Fields up to this width are read into a buffer on the stack.
constexpr size_t kSmallFieldBytes = 64;
// Spellings of field names remembered per table; a caller naming more is served by the comparison.
constexpr size_t kNamedFieldsKept = 16;

// Why a read of fields cannot go on; these end the program.
enum class FieldFault { None, NoDatabase, BadArgumentKind, NoSuchField };

// The field an argument names: a name (compared as field names are) or a 1-based number.
FieldFault find_field(Database& db, const Value& v, size_t* index) {
  if (v.is(Kind::Text)) {
    const std::string_view name = v.text();
    const size_t known = db.named_fields.size();
    for (size_t k = 0; k < known; ++k) {
      const size_t j = (db.named_next + k) % known;
      if (db.named_fields[j].first != name) continue;
      db.named_next = j + 1;
      return *index = db.named_fields[j].second, FieldFault::None;
    }
    for (size_t i = 0; i < db.fields.size(); ++i) {
      if (!names_equal(db.fields[i].name, name)) continue;
      if (db.named_fields.size() < kNamedFieldsKept) db.named_fields.emplace_back(name, i);
      return *index = i, FieldFault::None;
    }
    return FieldFault::NoSuchField;
  }
  if (!is_numeric(v.kind_code()) || v.is_array()) return FieldFault::BadArgumentKind;
  const int32_t n = Args(1, &v).number(0, 0);
  if (n < 1 || static_cast<size_t>(n) > db.fields.size()) return FieldFault::NoSuchField;
  *index = static_cast<size_t>(n - 1);
  return FieldFault::None;
}

// Ends the program for a fault; returns for None. Called without the store's mutex: the box may
// stay up while other threads go on.
void report_fault(FieldFault fault) {
  switch (fault) {
    case FieldFault::None:
      return;
    case FieldFault::NoDatabase:
      report_fatal_message("未指定当前数据库或者指定数据库未打开");
    case FieldFault::BadArgumentKind:
      raise_fault(kFaultBadArgumentKind, 0, 0);
    case FieldFault::NoSuchField:
      report_fatal_message("指定字段不存在");
  }
}

// A chain's value as a field gives it: a memo is a text cut at its first zero byte.
Value chain_value(FieldType type, std::string_view bytes) {
  if (type == FieldType::Memo) return Value::of_text_block(new_text_block(bytes));
  return Value::of_byteset_block(new_byteset_block(bytes));
}

// Reads field `f` of the record at `record` in `file` (its lock held), its chain from `aux`, into
// `*result` (left empty on failure).
DbCode read_field_at(File& file, File* aux, const FieldDescriptor& f, int64_t record, Value* result) {
  const size_t width = static_cast<size_t>(field_width(f.type, f.width));
  uint8_t small[kSmallFieldBytes];
  std::unique_ptr<uint8_t[]> big;
  uint8_t* buf = small;
  if (width > sizeof small) {
    big.reset(new (std::nothrow) uint8_t[width]);
    buf = big.get();
  }
  if (!buf) return DbCode::NoMemory;
  size_t got = 0;
  if (FileCause c = file.read_at(static_cast<uint64_t>(record + f.offset), buf, width, &got);
      c != FileCause::None) {
    return db_code_of(c, DbCode::FieldReadFailed);
  }
  if (got == 0) return DbCode::SeekFailed;  // at or past the end of the file, after the last record too
  if (got < width) return DbCode::FieldReadFailed;
  if (!is_chain_type(f.type)) {
    *result = decode_field(f, buf);
    return DbCode::Ok;
  }
  if (!aux) return DbCode::FieldReadFailed;
  std::string bytes;
  if (DbCode rc = read_chain(*aux, get_i32(buf), &bytes); rc != DbCode::Ok) return rc;
  *result = chain_value(f.type, bytes);
  return DbCode::Ok;
}

// The field read while the process is alone with the files: no lock at all (SoleFile::Pinned).
// Nothing when it is not alone.
std::optional<DbCode> read_field_alone(Database& db, const FieldDescriptor& f, int64_t record,
                                       Value* result) {
  SoleFile::Pinned file(db.sole_file());
  if (!file.alone()) return std::nullopt;
  // Only a chain is read from the auxiliary file: any other field needs no hold on it.
  if (!db.aux || !is_chain_type(f.type)) return read_field_at(file, nullptr, f, record, result);
  SoleFile::Pinned aux(*db.sole_aux());  // after the record file's, as a break leaves them
  if (!aux.alone()) return std::nullopt;
  return read_field_at(file, &aux, f, record, result);
}

// db_read_field under the registry's mutex; a fault is reported by the caller once it is let go.
FieldFault read_field_locked(Registry& reg, const Value& name, Value* result) REQUIRES(reg.mu) {
  reg.mu.assert_held();
  Database* db = reg.current_db();
  if (!db) return FieldFault::NoDatabase;
  size_t index = 0;
  if (FieldFault fault = find_field(*db, name, &index); fault != FieldFault::None) return fault;
  const FieldDescriptor& f = db->fields[index];
  *result = Value::make(field_kind(f.type), 0);
  if (db->current < 0) {
    set_db_last_error(DbCode::NoCurrentRecord);
    return FieldFault::None;
  }
  const int64_t record = db->record_pos(db->current);
  if (std::optional<DbCode> rc = read_field_alone(*db, f, record, result)) {
    set_db_last_error(*rc);
    return FieldFault::None;
  }
  if (DbCode rc = db->lock(record, reg.wait_ms); rc != DbCode::Ok) {
    set_db_last_error(rc);
    return FieldFault::None;
  }
  const DbCode rc = read_field_at(*db->file, db->aux.get(), f, record, result);
  std::ignore = db->unlock(record);  // held by this table: only a closed file fails it
  set_db_last_error(rc);
  return FieldFault::None;
}

}  // namespace

// Fills a RecordRead for the fields of one database's table.
class RecordReader {
 public:
  RecordReader(Database& db, RecordRead& out, Records which) : db_(db), out_(out), which_(which) {}

  // Names the fields and makes each the empty value of its kind; a fault when one is not a field.
  FieldFault resolve(std::span<const Value> names) {
    out_.serial_ = 0;
    out_.fields_.resize(names.size());
    extent_ = kSerialSize;
    chains_ = false;
    for (size_t i = 0; i < names.size(); ++i) {
      RecordRead::Field& field = out_.fields_[i];
      if (FieldFault fault = find_field(db_, names[i], &field.index); fault != FieldFault::None) return fault;
      const FieldDescriptor& f = db_.fields[field.index];
      field.value = Value::make(field_kind(f.type), 0);
      field.chain.clear();
      field.length = 0;
      field.from_chain = is_chain_type(f.type);
      chains_ = chains_ || field.from_chain;
      extent_ = std::max(extent_, static_cast<size_t>(f.offset + field_width(f.type, f.width)));
    }
    return FieldFault::None;
  }

  // The whole read; the record's lock (or a hold that needs none) is the caller's.
  DbCode read(File& file, File* aux, int64_t record) {
    out_.record_.resize(extent_);
    if (!read_mapped(file, record)) {
      size_t got = 0;
      if (FileCause c = file.read_at(static_cast<uint64_t>(record), out_.record_.data(), extent_, &got);
          c != FileCause::None) {
        return db_code_of(c, DbCode::FieldReadFailed);
      }
      if (got == 0) return DbCode::SeekFailed;
      if (got < extent_) return DbCode::FieldReadFailed;
    }
    if (const int32_t serial = get_i32(out_.record_.data()); which_ == Records::Live && serial <= 0) {
      out_.serial_ = serial;
      return DbCode::Ok;
    }
    DbCode result = DbCode::Ok;
    for (RecordRead::Field& field : out_.fields_) {
      const FieldDescriptor& f = db_.fields[field.index];
      const uint8_t* at = out_.record_.data() + f.offset;
      if (f.type == FieldType::Text) {
        const void* zero = std::memchr(at, 0, static_cast<size_t>(f.width));
        field.at = static_cast<size_t>(f.offset);
        field.length =
            zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - at) : static_cast<size_t>(f.width);
      } else if (!field.from_chain) {
        field.value = decode_field(f, at);
      } else if (DbCode rc = aux ? read_chain(*aux, get_i32(at), &field.chain) : DbCode::FieldReadFailed;
                 rc != DbCode::Ok) {
        field.chain.clear();  // a chain that cannot be read is an empty value
        if (result == DbCode::Ok) result = rc;
      }
    }
    out_.serial_ = get_i32(out_.record_.data());
    return result;
  }

  // The record's bytes from the file's mapping, when it lies below the count the header holds now.
  // Its lock is held, so no purge is cutting the file shorter, and the count grows only once the
  // records it covers are written. Past that count the read goes to the file, whose short read
  // tells a record that is not there.
  bool read_mapped(File& file, int64_t record) {
    uint8_t count[4];
    if (!file.read_mapped(kCountOffset, count, sizeof count)) return false;
    const int64_t end = db_.record_pos(std::max(get_i32(count), 0));
    return record + static_cast<int64_t>(extent_) <= end &&
           file.read_mapped(static_cast<uint64_t>(record), out_.record_.data(), extent_);
  }

  // The read while the process is alone with the files (SoleFile::Pinned): no lock at all.
  // Nothing when it is not alone.
  std::optional<DbCode> read_alone(int64_t record) {
    SoleFile::Pinned file(db_.sole_file());
    if (!file.alone()) return std::nullopt;
    if (!db_.aux || !chains_) return read(file, nullptr, record);
    SoleFile::Pinned aux(*db_.sole_aux());  // after the record file's, as a break leaves them
    if (!aux.alone()) return std::nullopt;
    return read(file, &aux, record);
  }

 private:
  Database& db_;
  RecordRead& out_;
  const Records which_;
  size_t extent_ = kSerialSize;  // bytes from the record's start to the end of the last field asked
  bool chains_ = false;          // a memo or byte set is asked for
};

namespace {

// db_read_record under the registry's mutex; a fault is reported by the caller once it is let go.
FieldFault read_record_locked(Registry& reg, std::span<const Value> names, Records which, RecordRead* out,
                              DbCode* code) REQUIRES(reg.mu) {
  reg.mu.assert_held();
  Database* db = reg.current_db();
  if (!db) return FieldFault::NoDatabase;
  RecordReader reader(*db, *out, which);
  if (FieldFault fault = reader.resolve(names); fault != FieldFault::None) return fault;
  if (db->current < 0) return *code = DbCode::NoCurrentRecord, FieldFault::None;
  const int64_t record = db->record_pos(db->current);
  if (std::optional<DbCode> rc = reader.read_alone(record)) return *code = *rc, FieldFault::None;
  if (DbCode rc = db->lock(record, reg.wait_ms); rc != DbCode::Ok) return *code = rc, FieldFault::None;
  *code = reader.read(*db->file, db->aux.get(), record);
  std::ignore = db->unlock(record);  // held by this table: only a closed file fails it
  return FieldFault::None;
}

}  // namespace

std::string_view RecordRead::bytes(size_t i) const {
  const Field& f = fields_[i];
  if (f.from_chain) {
    if (!f.value.is(Kind::Text)) return f.chain;
    return std::string_view(f.chain).substr(0, std::min(f.chain.size(), f.chain.find('\0')));
  }
  if (!f.value.is(Kind::Text)) return {};
  return {reinterpret_cast<const char*>(record_.data() + f.at), f.length};
}

Value RecordRead::value(size_t i) const {
  const Field& f = fields_[i];
  if (f.value.is(Kind::Text)) return Value::of_text_block(new_text_block(bytes(i)));
  if (f.value.is(Kind::ByteSet)) return Value::of_byteset_block(new_byteset_block(f.chain));
  return f.value;
}

void db_read_field(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  Registry& reg = registry();
  FieldFault fault = FieldFault::None;
  {
    MutexLock g(reg.mu);
    fault = read_field_locked(reg, a[0], result);
  }
  report_fault(fault);
}

DbCode db_read_record(std::span<const Value> names, RecordRead* out, Records which) {
  Registry& reg = registry();
  FieldFault fault = FieldFault::None;
  DbCode code = DbCode::Ok;
  {
    MutexLock g(reg.mu);
    fault = read_record_locked(reg, names, which, out, &code);
  }
  report_fault(fault);
  set_db_last_error(code);
  return code;
}

}  // namespace pennacle
