#include "store/edit_journal.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "store/crc32.h"
#include "store/database.h"
#include "store/locks.h"
#include "store/side_files.h"

namespace pennacle {
namespace {

constexpr char kJournalMagic[8] = {'P', 'N', 'K', 'D', 'B', 'E', 'D', '1'};
constexpr size_t kJournalHead = 24;
constexpr int64_t kSectorBytes = 512;

size_t journal_size(int32_t record_length) {
  return kJournalHead + 2 * static_cast<size_t>(record_length) + 4;
}

}  // namespace

std::string EditJournal::encode() const {
  const auto length = static_cast<int32_t>(old_bytes.size());
  std::string s(journal_size(length), '\0');
  auto* p = reinterpret_cast<uint8_t*>(s.data());
  std::memcpy(p, kJournalMagic, sizeof kJournalMagic);
  put_i32(p + 8, data_start);
  put_i32(p + 12, length);
  put_i32(p + 16, slot);
  put_i32(p + 20, serial);
  std::memcpy(p + kJournalHead, old_bytes.data(), old_bytes.size());
  std::memcpy(p + kJournalHead + old_bytes.size(), new_bytes.data(), new_bytes.size());
  const size_t body = s.size() - 4;
  put_i32(p + body, static_cast<int32_t>(crc32(0, p, body)));
  return s;
}

bool EditJournal::parse(std::string_view bytes, int32_t record_length, EditJournal* out) {
  if (record_length <= 0 || bytes.size() != journal_size(record_length)) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (std::memcmp(p, kJournalMagic, sizeof kJournalMagic) != 0) return false;
  const size_t body = bytes.size() - 4;
  if (static_cast<uint32_t>(get_i32(p + body)) != crc32(0, p, body)) return false;
  if (get_i32(p + 12) != record_length || get_i32(p + 16) < 0) return false;
  out->data_start = get_i32(p + 8);
  out->slot = get_i32(p + 16);
  out->serial = get_i32(p + 20);
  const size_t n = static_cast<size_t>(record_length);
  out->old_bytes.assign(p + kJournalHead, p + kJournalHead + n);
  out->new_bytes.assign(p + kJournalHead + n, p + kJournalHead + 2 * n);
  return true;
}

bool crosses_sector(int64_t position, int64_t length) {
  return length > 0 && position / kSectorBytes != (position + length - 1) / kSectorBytes;
}

bool torn_between(const uint8_t* current, const EditJournal& j, int64_t position) {
  const size_t n = j.old_bytes.size();
  if (j.new_bytes.size() != n || n == 0) return false;
  if (std::memcmp(current, j.old_bytes.data(), n) == 0 || std::memcmp(current, j.new_bytes.data(), n) == 0)
    return false;
  // Piece by piece, split where the sectors of the file split the record.
  for (size_t at = 0; at < n;) {
    const int64_t sector_end = ((position + static_cast<int64_t>(at)) / kSectorBytes + 1) * kSectorBytes;
    const size_t piece = std::min(n - at, static_cast<size_t>(sector_end - position) - at);
    if (std::memcmp(current + at, j.old_bytes.data() + at, piece) != 0 &&
        std::memcmp(current + at, j.new_bytes.data() + at, piece) != 0) {
      return false;
    }
    at += piece;
  }
  return true;
}

DbCode JournalFile::open(FileSystem& fs, const Database& db) {
  fs_ = &fs;
  path_ = side_file_path(db.full_path, kEditJournalSuffix);
  FileCause c = fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  if (c == FileCause::NotFound) {
    c = fs.create(path_, &file_);
    created_ = c == FileCause::None;
    // Another process made it in between: open that one.
    if (c == FileCause::AccessDenied) c = fs.open(path_, FileAccess::ReadWrite, FileShare::DenyNone, &file_);
  }
  return db_code_of(c, DbCode::OpenFailed);
}

DbCode JournalFile::lock(int32_t wait_ms) {
  const DbCode rc = platform_lock(*file_, kSideFileLockByte, wait_ms);
  locked_ = rc == DbCode::Ok;
  return rc;
}

JournalFile::~JournalFile() {
  if (!file_) return;
  // The lock goes with the file; an unlock that fails changes nothing then.
  if (locked_) std::ignore = platform_unlock(*file_, kSideFileLockByte);
  file_->close();
}

bool JournalFile::read(int32_t record_length, EditJournal* out) {
  const size_t want = journal_size(record_length);
  uint64_t size = 0;
  if (file_->size(&size) != FileCause::None || size != want) return false;
  std::string bytes(want, '\0');
  size_t got = 0;
  if (file_->read_at(0, bytes.data(), want, &got) != FileCause::None || got != want) return false;
  return EditJournal::parse(bytes, record_length, out);
}

DbCode JournalFile::write(const EditJournal& j) {
  const std::string bytes = j.encode();
  uint64_t size = 0;
  if (FileCause c = file_->size(&size); c != FileCause::None) return db_code_of(c);
  // A journal of another record length (a table made again under the same name) is cut first.
  if (size > bytes.size()) {
    if (FileCause c = file_->set_size(bytes.size()); c != FileCause::None) return db_code_of(c);
  }
  if (FileCause c = file_->write_at(0, bytes.data(), bytes.size()); c != FileCause::None)
    return db_code_of(c);
  if (FileCause c = file_->sync(); c != FileCause::None) return db_code_of(c);
  if (created_) {
    if (FileCause c = fs_->sync_directory_of(path_); c != FileCause::None) return db_code_of(c);
    created_ = false;
  }
  return DbCode::Ok;
}

namespace {

// The slot the journal names, read whole: Ok with `*ours` false when it is not the journal's record
// (another table, a slot past the end since a purge, another serial).
DbCode read_slot(Database& db, const EditJournal& j, std::vector<uint8_t>* current, bool* ours) {
  *ours = false;
  if (j.data_start != db.data_start || j.old_bytes.size() != static_cast<size_t>(db.record_length))
    return DbCode::Ok;
  const int64_t position = db.record_pos(j.slot);
  if (position + db.record_length > kWholeFileLength) return DbCode::Ok;
  current->resize(static_cast<size_t>(db.record_length));
  size_t got = 0;
  if (FileCause c = db.file->read_at(static_cast<uint64_t>(position), current->data(), current->size(), &got);
      c != FileCause::None) {
    return db_code_of(c, DbCode::RecordReadFailed);
  }
  *ours = got == current->size() && get_i32(current->data()) == j.serial;
  return DbCode::Ok;
}

}  // namespace

bool slot_looks_torn(Database& db, const EditJournal& j) {
  std::vector<uint8_t> current;
  bool ours = false;
  return read_slot(db, j, &current, &ours) == DbCode::Ok && ours &&
         torn_between(current.data(), j, db.record_pos(j.slot));
}

DbCode repair_torn_edit(Database& db, const EditJournal& j) {
  std::vector<uint8_t> current;
  bool ours = false;
  if (DbCode rc = read_slot(db, j, &current, &ours); rc != DbCode::Ok || !ours) return rc;
  const int64_t position = db.record_pos(j.slot);
  if (!torn_between(current.data(), j, position)) return DbCode::Ok;
  if (FileCause c =
          db.file->write_at(static_cast<uint64_t>(position), j.new_bytes.data(), j.new_bytes.size());
      c != FileCause::None) {
    return db_code_of(c, DbCode::RecordWriteFailed);
  }
  const FileCause c = db.file->sync();
  return c == FileCause::None ? DbCode::Ok : db_code_of(c);
}

DbCode finish_interrupted_edit(FileSystem& fs, Database& db) {
  // The whole record file is held, so no edit is writing the journal: it is read without its lock.
  const std::string path = side_file_path(db.full_path, kEditJournalSuffix);
  std::unique_ptr<File> file;
  const FileCause c = fs.open(path, FileAccess::Read, FileShare::DenyNone, &file);
  if (c == FileCause::NotFound) return DbCode::Ok;
  if (c != FileCause::None) return db_code_of(c, DbCode::OpenFailed);
  const size_t want = journal_size(db.record_length);
  uint64_t size = 0;
  std::string bytes(want, '\0');
  size_t got = 0;
  DbCode rc = DbCode::Ok;
  if (file->size(&size) != FileCause::None) {
    rc = DbCode::OpenFailed;
  } else if (size == want && file->read_at(0, bytes.data(), want, &got) != FileCause::None) {
    rc = DbCode::OpenFailed;
  }
  file->close();
  EditJournal j;
  if (rc != DbCode::Ok || got != want || !EditJournal::parse(bytes, db.record_length, &j)) return rc;
  return repair_torn_edit(db, j);
}

}  // namespace pennacle
