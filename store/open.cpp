// Opening a database: the files, the checks of the header and the field table, the repairs a
// writable open makes, and closing.
#include <algorithm>
#include <cctype>
#include <memory>

#include "runtime/args.h"
#include "store/aux_file.h"
#include "store/database.h"
#include "store/edit_journal.h"
#include "store/paths.h"
#include "store/record_store.h"
#include "store/sole_file.h"

namespace pennacle {
namespace {

constexpr int kMaxIndexFiles = 10;
// db_open's argument positions; the one between the share mode and the password is not used.
constexpr int kNameArg = 0, kAliasArg = 1, kReadOnlyArg = 2, kShareArg = 3, kPasswordArg = 5,
              kFirstIndexArg = 6;
// A password of "?" asks for one, which the store never does: it counts as none.
constexpr std::string_view kAskForPassword = "?";

bool password_matches(std::string_view stored, std::string_view password) {
  std::string want = password_check_of(password);
  if (stored.size() != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(stored[i])) != want[i]) return false;
  }
  return true;
}

// A writable open leaves the file as a finished operation would have: a move a cut left half done
// is finished, a count above the records present is lowered, bytes behind the last record go, and
// stale copies of moved records are dropped. Whatever it changes is on the disk before the open
// succeeds. The caller holds the whole file.
DbCode repair_for_writing(Database& db, uint64_t size, int32_t count) {
  RecordFile rf = db.record_file(0);
  const int32_t header_count = count;
  if (finish_interrupted_compaction(rf, &count) != DbCode::Ok) return DbCode::OpenFailed;
  if (count != header_count && db.file->size(&size) != FileCause::None) return DbCode::OpenFailed;
  const int64_t present = (static_cast<int64_t>(size) - db.data_start) / db.record_length;
  bool repaired = false;
  if (present < count) {
    count = static_cast<int32_t>(present);
    uint8_t raw[4];
    put_i32(raw, count);
    if (db.file->write_at(kCountOffset, raw, 4) != FileCause::None) return DbCode::OpenFailed;
    repaired = true;
  }
  // Every record must be addressable by a lock position.
  const int64_t length = db.data_start + int64_t{count} * db.record_length;
  if (length > kWholeFileLength) return DbCode::NotDatabase;
  if (static_cast<int64_t>(size) != length) {
    if (db.file->set_size(static_cast<uint64_t>(length)) != FileCause::None) return DbCode::OpenFailed;
    repaired = true;
  }
  if (repaired && db.file->sync() != FileCause::None) return DbCode::OpenFailed;
  if (compact_records(rf, Removal::StaleCopiesOnly, &count) != DbCode::Ok) return DbCode::OpenFailed;
  put_i32(&db.header.raw[kCountOffset], count);
  return DbCode::Ok;
}

// The 112 header bytes: magic, password, record length, counts and version.
DbCode check_header(Database& db, std::string_view password) {
  size_t got = 0;
  if (db.file->read_at(0, db.header.raw.data(), kHeaderSize, &got) != FileCause::None)
    return DbCode::OpenFailed;
  if (got < static_cast<size_t>(kHeaderSize)) return DbCode::NotDatabase;
  const bool has_password = !password.empty() && password != kAskForPassword;
  if (db.header.plain()) {
    if (has_password) return DbCode::Password;
  } else if (db.header.protected_file()) {
    // The page cipher is not supported: a right password still cannot be read.
    if (!has_password || !password_matches(db.header.password_check(), password)) return DbCode::Password;
    return DbCode::Password;
  } else {
    return DbCode::NotDatabase;
  }
  const FileHeader& h = db.header;
  if (h.record_length() <= 0 || h.record_count() < 0 || h.next_serial() < 1) return DbCode::NotDatabase;
  if (h.version() > kFileVersion) return DbCode::VersionTooHigh;
  if (h.record_length() > kMaxRecordLength) return DbCode::NotDatabase;
  return DbCode::Ok;
}

// The field count and the descriptors behind it, read into db.fields; `*fields_ok` tells whether
// they pass the open-time check against the record length.
DbCode read_field_table(Database& db, uint64_t size, bool* fields_ok) {
  size_t got = 0;
  uint8_t raw_count[4];
  if (db.file->read_at(kFieldCountOffset, raw_count, 4, &got) != FileCause::None) return DbCode::OpenFailed;
  if (got < 4) return DbCode::NotDatabase;
  const int32_t field_count = get_i32(raw_count);
  if (field_count <= 0) return DbCode::NotDatabase;
  // The table must fit the file before a buffer is made for it.
  if (size < static_cast<uint64_t>(kFieldTableOffset) ||
      static_cast<uint64_t>(field_count) > (size - kFieldTableOffset) / kDescriptorSize) {
    return DbCode::NotDatabase;
  }
  std::vector<uint8_t> table(static_cast<size_t>(field_count) * kDescriptorSize);
  if (db.file->read_at(kFieldTableOffset, table.data(), table.size(), &got) != FileCause::None) {
    return DbCode::OpenFailed;
  }
  if (got < table.size()) return DbCode::NotDatabase;
  *fields_ok = true;
  db.fields.resize(static_cast<size_t>(field_count));
  for (size_t i = 0; i < db.fields.size() && *fields_ok; ++i) {
    *fields_ok = parse_descriptor(&table[i * kDescriptorSize], &db.fields[i]);
  }
  *fields_ok = *fields_ok && descriptors_valid(db.fields, db.header.record_length());
  return DbCode::Ok;
}

// Header, field table and length, repaired where the file allows; nothing is written to a file
// that is then refused.
DbCode validate_main(Database& db, std::string_view password) {
  if (DbCode rc = check_header(db, password); rc != DbCode::Ok) return rc;
  uint64_t size = 0;
  if (db.file->size(&size) != FileCause::None) return DbCode::OpenFailed;
  bool fields_ok = false;
  if (DbCode rc = read_field_table(db, size, &fields_ok); rc != DbCode::Ok) return rc;
  const int32_t record_length = db.header.record_length();
  const int32_t count = db.header.record_count();
  const int64_t data_start = kFieldTableOffset + static_cast<int64_t>(db.fields.size()) * kDescriptorSize;
  const int64_t present = (static_cast<int64_t>(size) - data_start) / record_length;
  if (!fields_ok) return present < count && db.read_only ? DbCode::FileSize : DbCode::NotDatabase;
  db.record_length = record_length;
  db.data_start = data_start;
  if (!db.read_only) return repair_for_writing(db, size, count);
  if (present < count) return DbCode::FileSize;
  // Every record must be addressable by a lock position.
  if (data_start + int64_t{count} * record_length > kWholeFileLength) return DbCode::NotDatabase;
  return DbCode::Ok;
}

// Opens the main file, retrying a sharing conflict like a lock conflict, by the same wait rule.
DbCode open_main(FileSystem& fs, Database& db, FileAccess access, FileShare share, int32_t wait_ms) {
  const uint32_t started = tick_count();
  for (;;) {
    FileCause c = fs.open(db.full_path, access, share, &db.file);
    if (c == FileCause::None) return DbCode::Ok;
    if ((c == FileCause::SharingViolation || c == FileCause::LockViolation) &&
        wait_allows(wait_ms, started)) {
      conflict_sleep();
      continue;
    }
    return db_code_of(c);
  }
}

// Before this process opens a file again (another path may reach it): an open of a file it holds a
// lease on would wait for that lease, which only this process can give up.
void leave_own_leases(Registry& reg, std::string_view path) REQUIRES(reg.mu) {
  reg.mu.assert_held();
  FileId id;
  if (reg.files().id_of(path, &id) != FileCause::None) return;
  for (const auto& o : reg.open) {
    if (o->sole && o->sole->holds_file(id)) o->sole->leave();
  }
}

DbCode open_files(Registry& reg, Database& db, FileAccess access, FileShare share, std::string_view password)
    REQUIRES(reg.mu) {
  reg.mu.assert_held();
  FileSystem& fs = reg.files();
  leave_own_leases(reg, db.full_path);
  if (DbCode rc = open_main(fs, db, access, share, reg.wait_ms); rc != DbCode::Ok) return rc;
  db.file = std::make_unique<SoleFile>(std::move(db.file));
  if (share == FileShare::DenyRead || share == FileShare::Exclusive) db.exclusive = 1;
  // The whole file from before the header is read until the checks are done, so that no other
  // instance changes it in between (exclusive opens keep everyone out already).
  const bool whole_locked = db.exclusive == 0;
  if (whole_locked) {
    if (DbCode rc = platform_lock(*db.file, kWholeFile, reg.wait_ms); rc != DbCode::Ok) return rc;
  }
  DbCode rc = validate_main(db, password);
  const bool needs_aux = std::any_of(db.fields.begin(), db.fields.end(),
                                     [](const FieldDescriptor& f) { return is_chain_type(f.type); });
  if (rc == DbCode::Ok && needs_aux) {
    const std::string aux_path = aux_path_of(db.full_path);
    leave_own_leases(reg, aux_path);
    if (fs.open(aux_path, access, share, &db.aux) != FileCause::None) {
      rc = DbCode::AuxReadFailed;
    } else {
      db.aux = std::make_unique<SoleFile>(std::move(db.aux));
      rc = validate_aux(*db.aux, db.header.version(), !db.read_only, reg.wait_ms);
    }
  }
  // An edit a cut left torn is repaired under the same hold of the whole file.
  if (rc == DbCode::Ok && !db.read_only && finish_interrupted_edit(fs, db) != DbCode::Ok)
    rc = DbCode::OpenFailed;
  // The open's result stands either way; the lock goes with the file if it cannot be let go.
  if (whole_locked) std::ignore = platform_unlock(*db.file, kWholeFile);
  return rc;
}

// The sharing of share mode 1 to 3; any other is exclusive.
FileShare share_of(int32_t share_mode) {
  constexpr FileShare kShares[] = {FileShare::DenyNone, FileShare::DenyRead, FileShare::DenyWrite};
  return share_mode >= 1 && share_mode <= 3 ? kShares[share_mode - 1] : FileShare::Exclusive;
}

// The index files named after the password: texts, or arrays of texts.
int count_index_names(const Args& a) {
  int indexes = 0;
  for (int i = kFirstIndexArg; i < a.count(); ++i) {
    const Value& v = a[i];
    if (v.is(Kind::Text) && !v.text().empty()) ++indexes;
    if (v.is_array() && v.kind_code() == Kind::Text && v.pointer()) {
      indexes += static_cast<int>(static_cast<const ArrayHeader*>(v.pointer())->count);
    }
  }
  return indexes;
}

// The latest of `open` whose `key` (a name it goes by) is `name`, or -1.
int find_by(const std::vector<std::unique_ptr<Database>>& open, std::string Database::*key,
            std::string_view name) {
  for (int i = static_cast<int>(open.size()) - 1; i >= 0; --i) {
    const std::string& k = (*open[static_cast<size_t>(i)]).*key;
    if (!k.empty() && names_equal(k, name)) return i;
  }
  return -1;
}

// The open database that `name` names: by alias, then base name, then full path, the latest first.
int find_open(Registry& reg, std::string_view name) REQUIRES(reg.mu) {
  reg.mu.assert_held();
  int index = find_by(reg.open, &Database::alias, name);
  if (index < 0) index = find_by(reg.open, &Database::base_name, name);
  if (index < 0) index = find_by(reg.open, &Database::full_path, name);
  if (index < 0) {
    // A path written another way (relative, without the extension) names the same file.
    const std::string full = full_path_of(name);
    if (!full.empty()) index = find_by(reg.open, &Database::full_path, full);
  }
  return index;
}

}  // namespace

void close_database(Database& db) {
  if (db.sole) db.sole->detach();
  if (db.file) {
    if (db.exclusive == 0) db.locks.release_all(*db.file);
    db.file->close();
  }
  if (db.aux) db.aux->close();
}

void db_open(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  Registry& reg = registry();
  MutexLock g(reg.mu);
  const std::string_view name = a.text(kNameArg);
  if (name.empty()) return finish(result, DbCode::NotFound);
  auto db = std::make_unique<Database>();
  db->full_path = full_path_of(name);
  if (db->full_path.empty()) return finish(result, DbCode::BadPath);
  for (const auto& o : reg.open) {
    if (names_equal(o->full_path, db->full_path)) return finish(result, DbCode::AlreadyOpen);
  }
  const std::string_view alias = a.text(kAliasArg);
  if (!alias.empty() && !valid_name(alias, SIZE_MAX)) return finish(result, DbCode::BadAlias);
  db->alias = std::string(alias);
  db->base_name = stem_of(db->full_path);
  db->read_only = a.number(kReadOnlyArg, 0) == 1;
  const FileShare share = share_of(a.number(kShareArg, 1));
  const int indexes = count_index_names(a);
  const FileAccess access = db->read_only ? FileAccess::Read : FileAccess::ReadWrite;
  DbCode rc = open_files(reg, *db, access, share, a.text(kPasswordArg));
  // Index files are not supported: naming any fails as an index that cannot be opened.
  if (rc == DbCode::Ok && indexes > kMaxIndexFiles) rc = DbCode::TooManyIndexes;
  if (rc == DbCode::Ok && indexes > 0) rc = DbCode::IndexOpenFailed;
  if (rc != DbCode::Ok) {
    close_database(*db);
    return finish(result, rc);
  }
  db->current = 0;
  db->sole = std::make_shared<SoleMode>(static_cast<SoleFile*>(db->file.get()),
                                        static_cast<SoleFile*>(db->aux.get()));
  reg.open.push_back(std::move(db));
  reg.current = static_cast<int>(reg.open.size()) - 1;
  finish(result, DbCode::Ok);
}

void db_close(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  Registry& reg = registry();
  MutexLock g(reg.mu);
  const std::string_view name = a.text(0);
  const int index = name.empty() ? reg.current : find_open(reg, name);
  if (index >= 0) {
    close_database(*reg.open[static_cast<size_t>(index)]);
    reg.open.erase(reg.open.begin() + index);
    if (index == reg.current) {
      reg.current = -1;
    } else if (index < reg.current) {
      --reg.current;
    }
  }
  set_db_last_error(DbCode::Ok);
  *result = Value{};
}

}  // namespace pennacle
