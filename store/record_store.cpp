#include "store/record_store.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <tuple>

#include "platform/gbk.h"
#include "runtime/fatal.h"
#include "store/aux_file.h"
#include "store/compaction.h"
#include "store/locks.h"

namespace pennacle {
namespace {

constexpr size_t kMaxPathBytes = 260;
constexpr int kMaxIndexFiles = 10;
constexpr int32_t kCountSlotWaitMs = 2000;

struct Database {
  std::unique_ptr<File> file;
  std::unique_ptr<File> aux;  // only when the table has memo or byte-set fields
  bool read_only = false;
  int32_t exclusive = 0;  // above 0: count-slot and record locks are skipped
  std::string full_path, base_name, alias;
  FileHeader header;
  int32_t record_length = 0;
  std::vector<FieldDescriptor> fields;
  int64_t data_start = 0;
  int32_t current = 0;
  LockTable locks;

  int64_t record_pos(int64_t k) const { return data_start + k * record_length; }

  int32_t lock(int64_t position, int32_t wait_ms) {
    return exclusive > 0 ? 0 : locks.lock(*file, position, wait_ms);
  }
  int32_t unlock(int64_t position) { return exclusive > 0 ? 0 : locks.unlock(*file, position); }
};

struct Registry {
  std::mutex mu;
  std::vector<std::unique_ptr<Database>> open;  // GUARDED_BY(mu), in the order opened
  int current = -1;                             // GUARDED_BY(mu)
  int32_t wait_ms = 0;                          // GUARDED_BY(mu)
  FileSystem* fs = nullptr;                     // GUARDED_BY(mu)

  Database* current_db() { return current >= 0 ? open[static_cast<size_t>(current)].get() : nullptr; }
  FileSystem& files() { return fs ? *fs : posix_file_system(); }
};

// Never destroyed: a worker thread may still be inside the store while the program ends.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

// A file error as a store code; a failure without a known cause is `other`.
int32_t io_code(FileCause c, int32_t other = kDbUnknown) {
  int32_t code = file_cause_code(c);
  return code == kDbUnknown ? other : code;
}

// Sets the calling thread's last error and gives the logical result.
void finish(Value* result, int32_t code) {
  set_db_last_error(code);
  *result = Value::of_logical(code == 0);
}

std::string_view text_arg(const Value& v) { return v.is(Kind::Text) ? v.text() : std::string_view(); }

// Integer arguments: integer kinds directly, floating kinds truncated, anything else the default.
int32_t int_arg(const Value& v, int32_t fallback) {
  switch (v.kind_code()) {
    case Kind::Byte:
      return static_cast<uint8_t>(v.lo);
    case Kind::Short:
      return static_cast<int16_t>(v.lo);
    case Kind::Int:
    case Kind::Int64:
    case Kind::Logical:
      return static_cast<int32_t>(v.lo);
    case Kind::Float:
      return static_cast<int32_t>(truncate_to_int64(v.float_payload()));
    case Kind::Double:
      return static_cast<int32_t>(truncate_to_int64(v.double_payload()));
    default:
      return fallback;
  }
}

// ---- Paths (GBK; walked by characters so a trail byte is never taken for a separator) ---------

std::vector<std::string> split_path(std::string_view p) {
  std::vector<std::string> parts;
  std::string cur;
  for (size_t i = 0; i < p.size();) {
    uint8_t c = static_cast<uint8_t>(p[i]);
    if (c >= 0x81 && i + 1 < p.size()) {
      cur.append(p.substr(i, 2));
      i += 2;
      continue;
    }
    if (c == '/' || c == '\\') {
      if (!cur.empty()) parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(c));
    }
    ++i;
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

bool is_separator_at_end(std::string_view p) {
  if (p.empty()) return false;
  char last = p.back();
  if (last != '/' && last != '\\') return false;
  // A backslash may be the trail byte of a double-byte character.
  size_t i = 0;
  while (i < p.size()) {
    size_t len = (static_cast<uint8_t>(p[i]) >= 0x81 && i + 1 < p.size()) ? 2 : 1;
    if (i + len == p.size()) return len == 1;
    i += len;
  }
  return false;
}

// Adds the default extension, resolves against the current directory and removes "." and "..".
// Empty on failure (a path too long, or a current directory GBK cannot hold).
std::string full_path_of(std::string_view name) {
  std::string n(name);
  std::vector<std::string> parts = split_path(n);
  if (parts.empty() || is_separator_at_end(n)) return {};
  std::string& last = parts.back();
  if (last.find('.') == std::string::npos) last += '.';
  if (last.back() == '.') last += "KDB";
  std::vector<std::string> all;
  if (n[0] != '/' && n[0] != '\\') {
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) return {};
    std::optional<std::string> cwd = utf8_to_gbk(buf);
    if (!cwd) return {};
    all = split_path(*cwd);
  }
  for (std::string& p : parts) all.push_back(std::move(p));
  std::vector<std::string> clean;
  for (std::string& p : all) {
    if (p == ".") continue;
    if (p == "..") {
      if (!clean.empty()) clean.pop_back();
      continue;
    }
    clean.push_back(std::move(p));
  }
  std::string full;
  for (const std::string& p : clean) full += "/" + p;
  if (full.size() > kMaxPathBytes) return {};
  return full;
}

std::string base_name_of(std::string_view full) {
  size_t slash = full.rfind('/');
  std::string_view last = full.substr(slash + 1);
  size_t dot = last.rfind('.');
  return std::string(last.substr(0, dot));
}

std::string aux_path_of(std::string_view full) {
  size_t slash = full.rfind('/');
  size_t dot = full.rfind('.');
  std::string p(full.substr(0, dot != std::string_view::npos && dot > slash ? dot : full.size()));
  return p + ".KDT";
}

bool password_matches(std::string_view stored, std::string_view password) {
  std::string want = password_check_of(password);
  if (stored.size() != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(stored[i])) != want[i]) return false;
  }
  return true;
}

// ---- Opening -------------------------------------------------------------------------------

RecordFile record_file(Database& db, int32_t wait_ms) {
  return RecordFile{*db.file, db.aux.get(), db.data_start, db.record_length, db.fields, wait_ms};
}

// A writable open leaves the file as a finished operation would have: a move a cut left half done
// is finished, a count above the records present is lowered, bytes behind the last record go, and
// stale copies of moved records are dropped. Whatever it changes is on the disk before the open
// succeeds. The caller holds the whole file.
int32_t repair_for_writing(Database& db, uint64_t size, int32_t count) {
  RecordFile rf = record_file(db, 0);
  const int32_t header_count = count;
  if (finish_interrupted_compaction(rf, &count) != 0) return kDbOpenFailed;
  if (count != header_count && db.file->size(&size) != FileCause::None) return kDbOpenFailed;
  const int64_t present = (static_cast<int64_t>(size) - db.data_start) / db.record_length;
  bool repaired = false;
  if (present < count) {
    count = static_cast<int32_t>(present);
    uint8_t raw[4];
    put_i32(raw, count);
    if (db.file->write_at(kCountOffset, raw, 4) != FileCause::None) return kDbOpenFailed;
    repaired = true;
  }
  // Every record must be addressable by a lock position.
  if (db.data_start + int64_t{count} * db.record_length > kWholeFileLength) return kDbNotDatabase;
  const int64_t length = db.data_start + int64_t{count} * db.record_length;
  if (static_cast<int64_t>(size) != length) {
    if (db.file->set_size(static_cast<uint64_t>(length)) != FileCause::None) return kDbOpenFailed;
    repaired = true;
  }
  if (repaired && db.file->sync() != FileCause::None) return kDbOpenFailed;
  if (compact_records(rf, Removal::StaleCopiesOnly, &count) != 0) return kDbOpenFailed;
  put_i32(&db.header.raw[16], count);
  return 0;
}

// Header, field table and length, repaired where the file allows; nothing is written to a file
// that is then refused.
int32_t validate_main(Database& db, std::string_view password) {
  File& f = *db.file;
  size_t got = 0;
  if (f.read_at(0, db.header.raw.data(), kHeaderSize, &got) != FileCause::None) return kDbOpenFailed;
  if (got < static_cast<size_t>(kHeaderSize)) return kDbNotDatabase;
  const bool has_password = !password.empty() && password != "?";
  if (db.header.plain()) {
    if (has_password) return kDbPassword;
  } else if (db.header.protected_file()) {
    // The page cipher is not supported: a right password still cannot be read.
    if (!has_password || !password_matches(db.header.password_check(), password)) return kDbPassword;
    return kDbPassword;
  } else {
    return kDbNotDatabase;
  }
  const int32_t record_length = db.header.record_length();
  int32_t count = db.header.record_count();
  if (record_length <= 0 || count < 0 || db.header.next_serial() < 1) return kDbNotDatabase;
  if (db.header.version() > kFileVersion) return kDbVersionTooHigh;
  if (record_length > kMaxRecordLength) return kDbNotDatabase;

  uint64_t size = 0;
  if (f.size(&size) != FileCause::None) return kDbOpenFailed;
  uint8_t raw_count[4];
  if (f.read_at(kFieldCountOffset, raw_count, 4, &got) != FileCause::None) return kDbOpenFailed;
  if (got < 4) return kDbNotDatabase;
  const int32_t field_count = get_i32(raw_count);
  if (field_count <= 0) return kDbNotDatabase;
  // The table must fit the file before a buffer is made for it.
  if (size < static_cast<uint64_t>(kFieldTableOffset) ||
      static_cast<uint64_t>(field_count) > (size - kFieldTableOffset) / kDescriptorSize) {
    return kDbNotDatabase;
  }
  std::vector<uint8_t> table(static_cast<size_t>(field_count) * kDescriptorSize);
  if (f.read_at(kFieldTableOffset, table.data(), table.size(), &got) != FileCause::None) return kDbOpenFailed;
  if (got < table.size()) return kDbNotDatabase;
  const int64_t data_start = kFieldTableOffset + int64_t{field_count} * kDescriptorSize;
  const int64_t present = (static_cast<int64_t>(size) - data_start) / record_length;

  bool fields_ok = true;
  db.fields.resize(static_cast<size_t>(field_count));
  for (int32_t i = 0; i < field_count && fields_ok; ++i) {
    fields_ok = parse_descriptor(&table[static_cast<size_t>(i) * kDescriptorSize],
                                 &db.fields[static_cast<size_t>(i)]);
  }
  fields_ok = fields_ok && descriptors_valid(db.fields, record_length);

  if (!fields_ok) return present < count && db.read_only ? kDbFileSize : kDbNotDatabase;
  db.record_length = record_length;
  db.data_start = data_start;
  if (!db.read_only) return repair_for_writing(db, size, count);
  if (present < count) return kDbFileSize;
  // Every record must be addressable by a lock position.
  if (data_start + int64_t{count} * record_length > kWholeFileLength) return kDbNotDatabase;
  return 0;
}

int32_t open_files(Registry& reg, Database& db, FileAccess access, FileShare share,
                   std::string_view password) {
  FileSystem& fs = reg.files();
  const uint32_t started = tick_count();
  for (;;) {
    FileCause c = fs.open(db.full_path, access, share, &db.file);
    if (c == FileCause::None) break;
    // A sharing conflict is retried like a lock conflict, by the same wait rule.
    if ((c == FileCause::SharingViolation || c == FileCause::LockViolation) &&
        wait_allows(reg.wait_ms, started)) {
      conflict_sleep();
      continue;
    }
    return file_cause_code(c);
  }
  if (share == FileShare::DenyRead || share == FileShare::Exclusive) db.exclusive = 1;
  const bool whole_locked = db.exclusive == 0;
  if (whole_locked) {
    if (int32_t rc = platform_lock(*db.file, kWholeFile, true, reg.wait_ms); rc != 0) return rc;
  }
  int32_t rc = validate_main(db, password);
  const bool needs_aux = std::any_of(db.fields.begin(), db.fields.end(),
                                     [](const FieldDescriptor& f) { return is_chain_type(f.type); });
  if (rc == 0 && needs_aux) {
    if (fs.open(aux_path_of(db.full_path), access, share, &db.aux) != FileCause::None) {
      rc = kDbAuxReadFailed;
    } else {
      rc = validate_aux(*db.aux, db.header.version(), !db.read_only, reg.wait_ms);
    }
  }
  if (whole_locked) platform_lock(*db.file, kWholeFile, false, 0);
  return rc;
}

void close_database(Database& db) {
  if (db.file) {
    if (db.exclusive == 0) db.locks.release_all(*db.file);
    db.file->close();
  }
  if (db.aux) db.aux->close();
}

// Record count and next serial; the caller holds the count slot.
int32_t read_count_held(Database& db, int32_t* count, int32_t* next) {
  *count = 0;
  *next = 1;
  uint8_t raw[8];
  size_t got = 0;
  if (FileCause c = db.file->read_at(kCountOffset, raw, 8, &got); c != FileCause::None) {
    return io_code(c, kDbCountFailed);
  }
  if (got < 8) return kDbCountFailed;
  *count = std::max(0, get_i32(raw));
  *next = get_i32(raw + 4);
  return 0;
}

// Record count and next serial, read under the count-slot lock.
int32_t read_count(Database& db, int32_t wait_ms, int32_t* count, int32_t* next, bool raise_wait) {
  *count = 0;
  *next = 1;
  int32_t w = raise_wait && wait_ms != -1 ? std::max(wait_ms, kCountSlotWaitMs) : wait_ms;
  if (int32_t rc = db.lock(kCountOffset, w); rc != 0) return rc;
  int32_t rc = read_count_held(db, count, next);
  db.unlock(kCountOffset);
  return rc;
}

int find_field(const Database& db, const Value& v, bool* bad_kind) {
  *bad_kind = false;
  if (v.is(Kind::Text)) {
    for (size_t i = 0; i < db.fields.size(); ++i) {
      if (names_equal(db.fields[i].name, v.text())) return static_cast<int>(i);
    }
    return -1;
  }
  if (!is_numeric(v.kind_code()) || v.is_array()) {
    *bad_kind = true;
    return -1;
  }
  int32_t n = int_arg(v, 0);
  return n >= 1 && static_cast<size_t>(n) <= db.fields.size() ? n - 1 : -1;
}

Value empty_of(const FieldDescriptor& f) { return Value::make(field_kind(f.type), 0); }

}  // namespace

// ---- Operations ----------------------------------------------------------------------------

void db_open(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  std::string_view name = text_arg(arg(argc, args, 0));
  if (name.empty()) return finish(result, kDbNotFound);
  auto db = std::make_unique<Database>();
  db->full_path = full_path_of(name);
  if (db->full_path.empty()) return finish(result, kDbBadPath);
  for (const auto& o : reg.open) {
    if (names_equal(o->full_path, db->full_path)) return finish(result, kDbAlreadyOpen);
  }
  std::string_view alias = text_arg(arg(argc, args, 1));
  if (!alias.empty() && !valid_name(alias, SIZE_MAX)) return finish(result, kDbBadAlias);
  db->alias = std::string(alias);
  db->base_name = base_name_of(db->full_path);
  db->read_only = int_arg(arg(argc, args, 2), 0) == 1;
  const int32_t share_arg = int_arg(arg(argc, args, 3), 1);
  const FileShare share = share_arg == 1   ? FileShare::DenyNone
                          : share_arg == 2 ? FileShare::DenyRead
                          : share_arg == 3 ? FileShare::DenyWrite
                                           : FileShare::Exclusive;
  std::string_view password = text_arg(arg(argc, args, 5));
  int indexes = 0;
  for (int i = 6; i < argc; ++i) {
    const Value& v = args[i];
    if (v.is(Kind::Text) && !v.text().empty()) ++indexes;
    if (v.is_array() && v.kind_code() == Kind::Text && v.pointer()) {
      indexes += static_cast<int>(static_cast<const ArrayHeader*>(v.pointer())->count);
    }
  }
  int32_t rc =
      open_files(reg, *db, db->read_only ? FileAccess::Read : FileAccess::ReadWrite, share, password);
  // Index files are not supported: naming any fails as an index that cannot be opened.
  if (rc == 0 && indexes > kMaxIndexFiles) rc = kDbTooManyIndexes;
  if (rc == 0 && indexes > 0) rc = kDbIndexOpenFailed;
  if (rc != 0) {
    close_database(*db);
    return finish(result, rc);
  }
  db->current = 0;
  reg.open.push_back(std::move(db));
  reg.current = static_cast<int>(reg.open.size()) - 1;
  finish(result, 0);
}

void db_close(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  std::string name(text_arg(arg(argc, args, 0)));
  int index = -1;
  if (name.empty()) {
    index = reg.current;
  } else {
    auto search = [&](auto key) {
      for (int i = static_cast<int>(reg.open.size()) - 1; i >= 0; --i) {
        std::string_view k = key(*reg.open[static_cast<size_t>(i)]);
        if (!k.empty() && names_equal(k, name)) return i;
      }
      return -1;
    };
    index = search([](const Database& d) -> std::string_view { return d.alias; });
    if (index < 0) index = search([](const Database& d) -> std::string_view { return d.base_name; });
    if (index < 0) index = search([](const Database& d) -> std::string_view { return d.full_path; });
    if (index < 0) {
      // A path written another way (relative, without the extension) names the same file.
      const std::string full = full_path_of(name);
      if (!full.empty()) {
        name = full;
        index = search([](const Database& d) -> std::string_view { return d.full_path; });
      }
    }
  }
  if (index >= 0) {
    close_database(*reg.open[static_cast<size_t>(index)]);
    reg.open.erase(reg.open.begin() + index);
    if (index == reg.current) {
      reg.current = -1;
    } else if (index < reg.current) {
      --reg.current;
    }
  }
  set_db_last_error(0);
  *result = Value{};
}

void db_record_count(int, const Value*, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) {
    set_db_last_error(kDbNoCurrentDatabase);
    *result = Value::of_int(0);
    return;
  }
  int32_t count = 0, next = 0;
  int32_t rc = read_count(*db, reg.wait_ms, &count, &next, true);
  set_db_last_error(rc);
  *result = Value::of_int(rc == 0 ? count : 0);
}

void db_go_first(int, const Value*, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  *result = Value{};
  if (!db) return set_db_last_error(kDbNoCurrentDatabase);
  db->current = 0;
  set_db_last_error(0);
}

void db_go_to(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, kDbNoCurrentDatabase);
  int32_t count = 0, next = 0;
  if (int32_t rc = read_count(*db, reg.wait_ms, &count, &next, true); rc != 0) return finish(result, rc);
  int64_t n = int64_t{int_arg(arg(argc, args, 0), 0)} - 1;
  n = std::min<int64_t>(n, int64_t{count} - 1);
  db->current = static_cast<int32_t>(std::max<int64_t>(n, 0));
  finish(result, 0);
}

void db_skip(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, kDbNoCurrentDatabase);
  const Value& a = arg(argc, args, 0);
  const int64_t n = a.omitted() ? 1 : int_arg(a, 1);
  if (n == 0) return finish(result, 0);
  int32_t count = 0, next = 0;
  if (int32_t rc = read_count(*db, reg.wait_ms, &count, &next, true); rc != 0) return finish(result, rc);
  if (n < 0 && (count == 0 || db->current < 0)) return finish(result, kDbBeforeFirst);
  if (n > 0 && (count == 0 || db->current >= count)) return finish(result, kDbAfterLast);
  int64_t to = std::clamp<int64_t>(int64_t{db->current} + n, -1, count);
  db->current = static_cast<int32_t>(to);
  finish(result, 0);
}

void db_read_field(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::unique_lock<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) {
    g.unlock();
    report_fatal_message("未指定当前数据库或者指定数据库未打开");
  }
  bool bad_kind = false;
  int fi = find_field(*db, arg(argc, args, 0), &bad_kind);
  if (bad_kind) {
    g.unlock();
    raise_fault(kFaultBadArgumentKind, 0, 0);
  }
  if (fi < 0) {
    g.unlock();
    report_fatal_message("指定字段不存在");
  }
  const FieldDescriptor& f = db->fields[static_cast<size_t>(fi)];
  *result = empty_of(f);
  if (db->current < 0) return set_db_last_error(kDbNoCurrentRecord);
  const int64_t record = db->record_pos(db->current);
  if (int32_t rc = db->lock(record, reg.wait_ms); rc != 0) return set_db_last_error(rc);
  int32_t rc = 0;
  const size_t width = static_cast<size_t>(field_width(f.type, f.width));
  uint8_t small[64];
  std::unique_ptr<uint8_t[]> big;
  uint8_t* buf = small;
  if (width > sizeof small) {
    big.reset(new (std::nothrow) uint8_t[width]);
    buf = big.get();
  }
  size_t got = 0;
  if (!buf) {
    rc = kDbNoMemory;
  } else if (FileCause c = db->file->read_at(static_cast<uint64_t>(record + f.offset), buf, width, &got);
             c != FileCause::None) {
    rc = io_code(c, kDbFieldReadFailed);
  } else if (got == 0) {
    rc = kDbSeekFailed;  // at or past the end of the file, the position after the last record included
  } else if (got < width) {
    rc = kDbFieldReadFailed;
  } else if (is_chain_type(f.type)) {
    std::string bytes;
    if (!db->aux) {
      rc = kDbFieldReadFailed;
    } else if ((rc = read_chain(*db->aux, get_i32(buf), reg.wait_ms, &bytes)) == 0) {
      if (f.type == FieldType::Memo) {
        *result = Value::of_text_block(new_text_block(bytes));  // cut at a zero byte
      } else {
        *result = Value::of_byteset_block(new_byteset_block(bytes));
      }
    }
  } else {
    *result = decode_field(f, buf);
  }
  db->unlock(record);
  set_db_last_error(rc);
}

namespace {

// One row of an append: one value per field, as db_append takes them.
struct Row {
  int argc;
  const Value* args;
};

// Appending, in the order its writes must reach the disk. Two barriers; a barrier syncs the files
// named, and nothing after it is written before it returns:
//
//   step  file  writes                                      barrier after the step
//   1     KDT   each memo and byte-set chain, then the
//               KDT header
//   2     KDB   the new records, behind the counted ones    A: sync KDT (when a chain was
//                                                              written) and KDB
//   3     KDB   record count and next serial (8 bytes at    B: sync KDB, then success
//               offset 16)
//
// Until step 3 is on the disk the header counts only the old records: the bytes behind them are
// dropped at the next writable open, and chain blocks nothing refers to are lost space, so no
// half-written record is ever counted. A group of rows shares the barriers: a cut keeps the whole
// group or none of it.

size_t values_used(const Database& db, const Row& row) {
  return std::min(static_cast<size_t>(std::max(row.argc, 0)), db.fields.size());
}

bool kinds_fit(const Database& db, std::span<const Row> rows) {
  for (const Row& row : rows) {
    for (size_t i = 0; i < values_used(db, row); ++i) {
      if (!row.args[i].omitted() && !kind_fits(db.fields[i], row.args[i])) return false;
    }
  }
  return true;
}

// Builds one record in `record` (zero-filled, record length bytes), writing its chains. Returns the
// code of the last value that could not be stored (the record keeps an empty value there).
int32_t build_record(Database& db, const Row& row, int32_t serial, int32_t wait_ms, uint8_t* record,
                     bool* chained) {
  put_i32(record, serial);
  int32_t value_rc = 0;
  for (size_t i = 0; i < values_used(db, row); ++i) {
    const FieldDescriptor& f = db.fields[i];
    const Value& v = row.args[i];
    if (v.omitted()) continue;
    if (!is_chain_type(f.type)) {
      encode_field(f, v, record);
      continue;
    }
    std::string_view bytes = f.type == FieldType::Memo ? v.text() : byteset_view(v.byteset());
    int32_t first = 0;
    *chained = *chained || !bytes.empty();
    int32_t chain_rc = db.aux ? write_chain(*db.aux, bytes, wait_ms, &first) : kDbAuxAccess;
    if (chain_rc != 0) value_rc = chain_rc;
    put_i32(record + f.offset, first);
  }
  return value_rc;
}

// Steps 2 and 3 for records already built (their chains written), `count` and `next` as read under
// the count-slot lock.
int32_t write_appended(Database& db, int64_t position, const std::vector<uint8_t>& records, bool chained,
                       int32_t count, int32_t next, int32_t n) {
  if (FileCause c = db.file->write_at(static_cast<uint64_t>(position), records.data(), records.size());
      c != FileCause::None) {
    return io_code(c);
  }
  if (chained) {
    if (FileCause c = db.aux->sync(); c != FileCause::None) return io_code(c);  // barrier A
  }
  if (FileCause c = db.file->sync(); c != FileCause::None) return io_code(c);  // barrier A
  uint8_t raw[8];
  put_i32(raw, count + n);
  put_i32(raw + 4, next + n);
  if (FileCause c = db.file->write_at(kCountOffset, raw, 8); c != FileCause::None) return io_code(c);
  if (FileCause c = db.file->sync(); c != FileCause::None) return io_code(c);  // barrier B
  return 0;
}

// Appends `rows` behind the counted records under the count-slot lock and the new records' locks.
int32_t append_rows(Database& db, std::span<const Row> rows, int32_t wait_ms) {
  if (rows.empty()) return 0;
  if (!kinds_fit(db, rows)) return kDbKindMismatch;
  if (int32_t rc = db.lock(kCountOffset, wait_ms); rc != 0) return rc;
  int32_t count = 0, next = 1;
  int32_t rc = read_count_held(db, &count, &next);
  next = std::max(1, next);
  const int64_t n = static_cast<int64_t>(rows.size());
  // The new records must stay addressable, and the count and serial must not wrap.
  if (rc == 0 && (db.record_pos(int64_t{count} + n) > kWholeFileLength || int64_t{count} + n > INT32_MAX ||
                  int64_t{next} + n > INT32_MAX)) {
    rc = kDbUnknown;
  }
  int64_t locked = 0;
  while (rc == 0 && locked < n) {
    rc = db.lock(db.record_pos(count + locked), wait_ms);
    if (rc == 0) ++locked;
  }
  int32_t value_rc = 0;
  if (rc == 0) {
    std::vector<uint8_t> records(static_cast<size_t>(n * db.record_length), 0);
    bool chained = false;
    for (int64_t i = 0; i < n; ++i) {
      uint8_t* record = &records[static_cast<size_t>(i * db.record_length)];
      const int32_t serial = next + static_cast<int32_t>(i);
      if (int32_t v = build_record(db, rows[static_cast<size_t>(i)], serial, wait_ms, record, &chained);
          v != 0)
        value_rc = v;
    }
    rc = write_appended(db, db.record_pos(count), records, chained, count, next, static_cast<int32_t>(n));
    if (rc == 0) db.current = count + static_cast<int32_t>(n) - 1;
  }
  while (locked > 0) db.unlock(db.record_pos(count + --locked));
  db.unlock(kCountOffset);
  return rc != 0 ? rc : value_rc;
}

}  // namespace

void db_append(int argc, const Value* args, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, kDbNoCurrentDatabase);
  const Row row{argc, args};
  finish(result, append_rows(*db, {&row, 1}, reg.wait_ms));
}

int32_t db_append_rows(const std::vector<std::vector<Value>>& rows) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  int32_t rc = kDbNoCurrentDatabase;
  if (db) {
    std::vector<Row> r;
    r.reserve(rows.size());
    for (const std::vector<Value>& values : rows)
      r.push_back({static_cast<int>(values.size()), values.data()});
    rc = append_rows(*db, r, reg.wait_ms);
  }
  set_db_last_error(rc);
  return rc;
}

void db_delete(int, const Value*, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, kDbNoCurrentDatabase);
  if (db->current < 0) return finish(result, kDbNoCurrentRecord);
  const int64_t position = db->record_pos(db->current);
  if (int32_t rc = db->lock(position, reg.wait_ms); rc != 0) return finish(result, rc);
  int32_t rc = 0;
  uint8_t raw[4];
  size_t got = 0;
  if (FileCause c = db->file->read_at(static_cast<uint64_t>(position), raw, 4, &got); c != FileCause::None) {
    rc = io_code(c);
  } else if (got == 0) {
    rc = kDbNoCurrentRecord;
  } else if (got < 4) {
    rc = kDbRecordReadFailed;
  } else if (int32_t serial = get_i32(raw); serial > 0) {
    put_i32(raw, -serial);
    if (FileCause c2 = db->file->write_at(static_cast<uint64_t>(position), raw, 4); c2 != FileCause::None) {
      rc = io_code(c2);
    }
  }
  // The mark is on the disk before success, also when an earlier delete wrote it.
  if (rc == 0) {
    if (FileCause c = db->file->sync(); c != FileCause::None) rc = io_code(c);
  }
  db->unlock(position);
  finish(result, rc);
}

void db_purge(int, const Value*, Value* result) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) return finish(result, kDbNoCurrentDatabase);
  if (int32_t rc = db->locks.lock_all(*db->file, &db->exclusive, reg.wait_ms); rc != 0)
    return finish(result, rc);
  int32_t count = 0;
  int32_t rc = compact_records(record_file(*db, reg.wait_ms), Removal::DeletedAndStaleCopies, &count);
  db->current = 0;
  db->locks.unlock_all(*db->file, &db->exclusive);
  finish(result, rc);
}

// ---- Creating ------------------------------------------------------------------------------

std::vector<FieldSpec> ledger_fields() {
  return {{"序号", FieldType::Double, 0},    {"类型", FieldType::Text, 16},    {"金额", FieldType::Double, 0},
          {"付款方式", FieldType::Text, 64}, {"时间", FieldType::DateTime, 0}, {"备注", FieldType::Memo, 0}};
}

namespace {

int32_t check_fields(const std::vector<FieldSpec>& fields) {
  if (fields.empty()) return kDbNoFields;
  int64_t length = kSerialSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    const int32_t t = static_cast<int32_t>(f.type);
    if (t < 1 || t > 12) return kDbBadFieldType;
    if (f.name.size() > static_cast<size_t>(kMaxNameBytes) || !valid_name(f.name, 15)) return kDbBadFieldName;
    if (f.type == FieldType::Text && f.width < 1) return kDbBadFieldSize;
    length += field_width(f.type, f.width);
    if (length > kMaxRecordLength) return kDbBadFieldSize;
    for (size_t j = 0; j < i; ++j) {
      if (names_equal(fields[j].name, f.name)) return kDbDuplicateField;
    }
  }
  return 0;
}

// A new file with `bytes`, on the disk with its directory entry before it returns; removed again
// when it cannot be made whole.
int32_t write_new_file(FileSystem& fs, const std::string& path, const std::string& bytes) {
  std::unique_ptr<File> f;
  FileCause c = fs.create(path, &f);
  if (c == FileCause::AccessDenied) return kDbCreateFailed;
  if (c != FileCause::None) return io_code(c, kDbCreateFailed);
  c = f->write_at(0, bytes.data(), bytes.size());
  if (c == FileCause::None) c = f->sync();
  f->close();
  if (c == FileCause::None) c = fs.sync_directory_of(path);
  if (c != FileCause::None) {
    std::ignore = fs.remove(path);
    return io_code(c, kDbCreateFailed);
  }
  return 0;
}

}  // namespace

int32_t create_database(std::string_view gbk_path, const std::vector<FieldSpec>& fields) {
  int32_t rc = check_fields(fields);
  if (rc != 0) {
    set_db_last_error(rc);
    return rc;
  }
  const std::string full = full_path_of(gbk_path);
  if (full.empty()) {
    set_db_last_error(kDbBadPath);
    return kDbBadPath;
  }
  // Fields follow the serial in table order.
  std::vector<FieldDescriptor> descs;
  int32_t offset = static_cast<int32_t>(kSerialSize);
  bool needs_aux = false;
  for (const FieldSpec& s : fields) {
    FieldDescriptor d{s.name, s.type, offset, s.type == FieldType::Text ? s.width : 0};
    offset += static_cast<int32_t>(field_width(s.type, s.width));
    needs_aux = needs_aux || is_chain_type(s.type);
    descs.push_back(std::move(d));
  }
  std::string bytes(static_cast<size_t>(kFieldTableOffset + kDescriptorSize * descs.size()), '\0');
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  std::memcpy(p, kPlainMagic, 4);
  put_i32(p + 4, static_cast<int32_t>(kFileVersion));
  put_i32(p + 16, 0);
  put_i32(p + 20, 1);
  put_i32(p + 24, offset);
  put_i32(p + kFieldCountOffset, static_cast<int32_t>(descs.size()));
  for (size_t i = 0; i < descs.size(); ++i)
    encode_descriptor(descs[i], p + kFieldTableOffset + kDescriptorSize * i);

  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  FileSystem& fs = reg.files();
  // The auxiliary file first: a database is never left without the one it needs.
  const std::string aux = aux_path_of(full);
  if (needs_aux && (rc = write_new_file(fs, aux, empty_aux_file(kFileVersion))) != 0) {
    set_db_last_error(rc);
    return rc;
  }
  if ((rc = write_new_file(fs, full, bytes)) != 0 && needs_aux) std::ignore = fs.remove(aux);
  set_db_last_error(rc);
  return rc;
}

// ---- Inspection and settings ---------------------------------------------------------------

bool db_current_info(DatabaseInfo* out) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  Database* db = reg.current_db();
  if (!db) {
    set_db_last_error(kDbNoCurrentDatabase);
    return false;
  }
  out->full_path = db->full_path;
  out->fields = db->fields;
  out->record_length = db->record_length;
  out->data_start = db->data_start;
  out->current = db->current;
  set_db_last_error(0);
  return true;
}

int32_t db_current_serial(int32_t* serial) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  *serial = 0;
  Database* db = reg.current_db();
  if (!db) return kDbNoCurrentDatabase;
  if (db->current < 0) return kDbNoCurrentRecord;
  const int64_t position = db->record_pos(db->current);
  if (int32_t rc = db->lock(position, reg.wait_ms); rc != 0) return rc;
  uint8_t raw[4];
  size_t got = 0;
  int32_t rc = 0;
  if (FileCause c = db->file->read_at(static_cast<uint64_t>(position), raw, 4, &got); c != FileCause::None) {
    rc = io_code(c);
  } else if (got == 0) {
    rc = kDbSeekFailed;
  } else if (got < 4) {
    rc = kDbRecordReadFailed;
  } else {
    *serial = get_i32(raw);
  }
  db->unlock(position);
  return rc;
}

void set_db_wait_time(int32_t ms) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  reg.wait_ms = ms;
}

int32_t db_wait_time() {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  return reg.wait_ms;
}

FileSystem* set_store_file_system(FileSystem* fs) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> g(reg.mu);
  FileSystem* old = reg.fs;
  reg.fs = fs;
  return old;
}

}  // namespace pennacle
