#include "store/compaction.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <unordered_map>

#include "store/aux_file.h"
#include "store/crc32.h"
#include "store/errors.h"

namespace pennacle {
namespace {

// Records are read and written in batches of about this many bytes, whatever the file's size.
constexpr int64_t kBatchBytes = 163840;

// The trailer behind the copy (48 bytes, little-endian):
//   0  magic "PNKDBMV1"      24  data start
//   8  record count before   28  checksum of the copy
//  12  first slot moved to   32  reserved (zero)
//  16  records moved         44  checksum of bytes 0 .. 43
//  20  record length
constexpr char kTrailerMagic[8] = {'P', 'N', 'K', 'D', 'B', 'M', 'V', '1'};
constexpr int64_t kTrailerSize = 48;

// Compaction, in the order its writes must reach the disk. Each barrier is one sync of the file
// named; nothing after a barrier is written before it returns.
//
//   step  file  writes                                      barrier after the step
//   1     KDB   the records that move, copied behind the    sync KDB: the copy and its trailer
//               counted ones, then the trailer              are whole before any slot changes
//   2     KDB   the moved records in their new slots        sync KDB: every record in place
//                                                           before the file is shortened
//   3     KDB   the new count (4 bytes at 16), then the     sync KDB: no record refers to a
//               file cut behind the last kept record        dropped chain before it is freed
//   4     KDT   the dropped records' chains freed, the      sync KDT, then success
//               free list and header, the file trimmed
//
// A cut in step 1 leaves bytes behind the counted records (dropped at the next writable open); in
// step 2, the trailer lets the move be done again; in step 3, a count not yet written is repaired
// from the file's length at open. Nothing moves when only the last records go: steps 1 and 2 are
// skipped.

DbCode read_all(File& f, int64_t pos, uint8_t* buf, size_t n, DbCode short_code) {
  size_t got = 0;
  if (FileCause c = f.read_at(static_cast<uint64_t>(pos), buf, n, &got); c != FileCause::None) {
    return db_code_of(c);
  }
  return got == n ? DbCode::Ok : short_code;
}

DbCode write_all(File& f, int64_t pos, const uint8_t* buf, size_t n) {
  FileCause c = f.write_at(static_cast<uint64_t>(pos), buf, n);
  return c == FileCause::None ? DbCode::Ok : db_code_of(c);
}

DbCode sync_file(File& f) {
  FileCause c = f.sync();
  return c == FileCause::None ? DbCode::Ok : db_code_of(c);
}

int64_t batch_records(const RecordFile& rf) { return std::max<int64_t>(1, kBatchBytes / rf.record_length); }

struct Trailer {
  int32_t old_count = 0;
  int32_t first = 0;
  int32_t moved = 0;
  int32_t record_length = 0;
  int32_t data_start = 0;
  uint32_t copy_crc = 0;

  int64_t new_count() const { return int64_t{first} + moved; }

  void encode(uint8_t* p) const {
    std::memset(p, 0, kTrailerSize);
    std::memcpy(p, kTrailerMagic, sizeof kTrailerMagic);
    put_i32(p + 8, old_count);
    put_i32(p + 12, first);
    put_i32(p + 16, moved);
    put_i32(p + 20, record_length);
    put_i32(p + 24, data_start);
    put_i32(p + 28, static_cast<int32_t>(copy_crc));
    put_i32(p + 44, static_cast<int32_t>(crc32(0, p, 44)));
  }

  // False for bytes that are not a whole trailer.
  static bool parse(const uint8_t* p, Trailer* t) {
    if (std::memcmp(p, kTrailerMagic, sizeof kTrailerMagic) != 0) return false;
    if (static_cast<uint32_t>(get_i32(p + 44)) != crc32(0, p, 44)) return false;
    t->old_count = get_i32(p + 8);
    t->first = get_i32(p + 12);
    t->moved = get_i32(p + 16);
    t->record_length = get_i32(p + 20);
    t->data_start = get_i32(p + 24);
    t->copy_crc = static_cast<uint32_t>(get_i32(p + 28));
    return true;
  }

  // The trailer describes a move of this file that a cut may have left unfinished: its numbers fit
  // the table, the file's length and the header's count (the old one, or the new one when the cut
  // came after the count was written but before the file was cut).
  bool fits(const RecordFile& rf, uint64_t size, int32_t header_count) const {
    if (record_length != rf.record_length || data_start != rf.data_start) return false;
    if (first < 0 || moved < 1 || old_count < 0 || new_count() > old_count) return false;
    const int64_t copy_end = rf.record_pos(old_count) + int64_t{moved} * record_length;
    if (copy_end + kTrailerSize != static_cast<int64_t>(size)) return false;
    return header_count == old_count || header_count == new_count();
  }
};

// Writes the record count and cuts the file behind the last counted record.
DbCode shorten(const RecordFile& rf, int32_t count) {
  uint8_t raw[4];
  put_i32(raw, count);
  if (DbCode rc = write_all(rf.file, kCountOffset, raw, sizeof raw); rc != DbCode::Ok) return rc;
  if (FileCause c = rf.file.set_size(static_cast<uint64_t>(rf.record_pos(count))); c != FileCause::None) {
    return db_code_of(c);
  }
  return sync_file(rf.file);  // barrier 3
}

// Steps 2 and 3: the copy into place, then the count and the cut.
DbCode apply_move(const RecordFile& rf, const Trailer& t) {
  const int64_t per = batch_records(rf);
  std::vector<uint8_t> buf;
  for (int64_t done = 0; done < t.moved;) {
    const int64_t n = std::min<int64_t>(per, t.moved - done);
    buf.resize(static_cast<size_t>(n * rf.record_length));
    if (DbCode rc = read_all(rf.file, rf.record_pos(t.old_count + done), buf.data(), buf.size(),
                             DbCode::RecordReadFailed);
        rc != DbCode::Ok) {
      return rc;
    }
    if (DbCode rc = write_all(rf.file, rf.record_pos(t.first + done), buf.data(), buf.size());
        rc != DbCode::Ok) {
      return rc;
    }
    done += n;
  }
  if (DbCode rc = sync_file(rf.file); rc != DbCode::Ok) return rc;  // barrier 2
  return shorten(rf, static_cast<int32_t>(t.new_count()));
}

// The checksum of `n` records of the copy behind `old_count` records.
DbCode copy_crc(const RecordFile& rf, int32_t old_count, int32_t n, uint32_t* crc) {
  *crc = 0;
  const int64_t per = batch_records(rf);
  std::vector<uint8_t> buf;
  for (int64_t done = 0; done < n;) {
    const int64_t k = std::min<int64_t>(per, n - done);
    buf.resize(static_cast<size_t>(k * rf.record_length));
    if (DbCode rc = read_all(rf.file, rf.record_pos(old_count + done), buf.data(), buf.size(),
                             DbCode::RecordReadFailed);
        rc != DbCode::Ok) {
      return rc;
    }
    *crc = crc32(*crc, buf.data(), buf.size());
    done += k;
  }
  return DbCode::Ok;
}

// Step 1: one walk over every record decides which go, and copies the ones that move behind the
// counted records.
class Walk {
 public:
  Walk(const RecordFile& rf, Removal what, int32_t count)
      : rf_(rf), what_(what), count_(count), dropped_(static_cast<size_t>(count), false) {}

  DbCode run();

  bool dropped_any() const { return first_drop_ >= 0; }
  int32_t first_drop() const { return static_cast<int32_t>(first_drop_); }
  int32_t moved() const { return static_cast<int32_t>(moved_); }
  uint32_t crc() const { return crc_; }
  // Chains that only dropped deleted records used.
  std::vector<int32_t> chains_to_free();

 private:
  bool drops(const uint8_t* rec, int64_t k);
  bool stale_copy(const uint8_t* rec, int64_t k);
  DbCode index_kept(int64_t end);
  DbCode copy_out(const uint8_t* rec);
  DbCode flush();
  void note_chains(const uint8_t* rec, std::vector<int32_t>* into) const;

  const RecordFile& rf_;
  const Removal what_;
  const int32_t count_;
  std::vector<bool> dropped_;
  int64_t first_drop_ = -1;
  int64_t moved_ = 0;
  uint32_t crc_ = 0;
  std::vector<uint8_t> out_;  // moved records not yet written to the copy
  int64_t out_at_ = 0;        // where out_ goes
  int32_t max_serial_ = 0;    // highest serial kept so far
  bool indexed_ = false;
  std::unordered_map<int32_t, int64_t> kept_by_serial_;
  std::vector<int32_t> freed_chains_, live_chains_;
  DbCode read_rc_ = DbCode::Ok;
};

DbCode Walk::run() {
  const int64_t reclen = rf_.record_length;
  const int64_t per = batch_records(rf_);
  out_at_ = rf_.record_pos(count_);
  std::vector<uint8_t> buf;
  for (int64_t k = 0; k < count_;) {
    const int64_t n = std::min<int64_t>(per, count_ - k);
    buf.resize(static_cast<size_t>(n * reclen));
    if (DbCode rc = read_all(rf_.file, rf_.record_pos(k), buf.data(), buf.size(), DbCode::RecordReadFailed);
        rc != DbCode::Ok) {
      return rc;
    }
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* rec = &buf[static_cast<size_t>(i * reclen)];
      const bool drop = drops(rec, k + i);
      if (read_rc_ != DbCode::Ok) return read_rc_;
      if (drop) {
        dropped_[static_cast<size_t>(k + i)] = true;
        if (first_drop_ < 0) first_drop_ = k + i;
      } else if (first_drop_ >= 0) {
        if (DbCode rc = copy_out(rec); rc != DbCode::Ok) return rc;
      }
    }
    k += n;
  }
  return flush();
}

bool Walk::drops(const uint8_t* rec, int64_t k) {
  const int32_t serial = get_i32(rec);
  if (serial < 0 && what_ == Removal::DeletedAndStaleCopies) {
    note_chains(rec, &freed_chains_);
    return true;
  }
  // Serials rise along a file, so a live serial not above the highest kept one may be a stale copy
  // of a moved record: it goes when it is the same bytes as the kept record with that serial.
  if (serial > 0 && serial <= max_serial_ && stale_copy(rec, k)) return true;
  if (serial > 0) {
    max_serial_ = std::max(max_serial_, serial);
    if (indexed_) kept_by_serial_.emplace(serial, k);
  }
  if (what_ == Removal::DeletedAndStaleCopies) note_chains(rec, &live_chains_);
  return false;
}

bool Walk::stale_copy(const uint8_t* rec, int64_t k) {
  if (!indexed_ && (read_rc_ = index_kept(k)) != DbCode::Ok) return false;
  auto it = kept_by_serial_.find(get_i32(rec));
  if (it == kept_by_serial_.end()) return false;
  std::vector<uint8_t> kept(static_cast<size_t>(rf_.record_length));
  if ((read_rc_ = read_all(rf_.file, rf_.record_pos(it->second), kept.data(), kept.size(),
                           DbCode::RecordReadFailed)) != DbCode::Ok) {
    return false;
  }
  return std::memcmp(kept.data(), rec, kept.size()) == 0;
}

// The serials of the live records kept before record `end`, read once when the first possible stale
// copy shows up (a file without one never pays for the index).
DbCode Walk::index_kept(int64_t end) {
  indexed_ = true;
  uint8_t raw[4];
  for (int64_t k = 0; k < end; ++k) {
    if (dropped_[static_cast<size_t>(k)]) continue;
    if (DbCode rc = read_all(rf_.file, rf_.record_pos(k), raw, sizeof raw, DbCode::RecordReadFailed);
        rc != DbCode::Ok)
      return rc;
    if (get_i32(raw) > 0) kept_by_serial_.emplace(get_i32(raw), k);
  }
  return DbCode::Ok;
}

DbCode Walk::copy_out(const uint8_t* rec) {
  out_.insert(out_.end(), rec, rec + rf_.record_length);
  ++moved_;
  return static_cast<int64_t>(out_.size()) >= kBatchBytes ? flush() : DbCode::Ok;
}

DbCode Walk::flush() {
  if (out_.empty()) return DbCode::Ok;
  // The copy must stay inside the range every lock position addresses.
  if (out_at_ + static_cast<int64_t>(out_.size()) + kTrailerSize > kWholeFileLength) return DbCode::Unknown;
  if (DbCode rc = write_all(rf_.file, out_at_, out_.data(), out_.size()); rc != DbCode::Ok) return rc;
  crc_ = crc32(crc_, out_.data(), out_.size());
  out_at_ += static_cast<int64_t>(out_.size());
  out_.clear();
  return DbCode::Ok;
}

void Walk::note_chains(const uint8_t* rec, std::vector<int32_t>* into) const {
  for (const FieldDescriptor& f : rf_.fields) {
    if (is_chain_type(f.type) && get_i32(rec + f.offset) != 0) into->push_back(get_i32(rec + f.offset));
  }
}

std::vector<int32_t> Walk::chains_to_free() {
  // A deleted stale copy shares its chain with the live record: that chain stays.
  std::sort(live_chains_.begin(), live_chains_.end());
  std::erase_if(freed_chains_,
                [&](int32_t c) { return std::binary_search(live_chains_.begin(), live_chains_.end(), c); });
  return std::move(freed_chains_);
}

// Steps 1 to 3 once the walk has found what goes. `*committed` is set once the copy and its trailer
// are on the disk: from then on the move is finished by whoever meets the trailer next.
DbCode move_and_shorten(const RecordFile& rf, const Walk& walk, int32_t old_count, bool* committed) {
  *committed = false;
  if (walk.moved() == 0) {
    *committed = true;
    return shorten(rf, walk.first_drop());
  }
  Trailer t;
  t.old_count = old_count;
  t.first = walk.first_drop();
  t.moved = walk.moved();
  t.record_length = rf.record_length;
  t.data_start = static_cast<int32_t>(rf.data_start);
  t.copy_crc = walk.crc();
  uint8_t raw[kTrailerSize];
  t.encode(raw);
  const int64_t at = rf.record_pos(old_count) + int64_t{t.moved} * rf.record_length;
  if (DbCode rc = write_all(rf.file, at, raw, sizeof raw); rc != DbCode::Ok) return rc;
  if (DbCode rc = sync_file(rf.file); rc != DbCode::Ok) return rc;  // barrier 1
  *committed = true;
  return apply_move(rf, t);
}

}  // namespace

DbCode finish_interrupted_compaction(const RecordFile& rf, int32_t* count) {
  uint64_t size = 0;
  if (FileCause c = rf.file.size(&size); c != FileCause::None) return db_code_of(c);
  if (static_cast<int64_t>(size) < rf.record_pos(*count) + kTrailerSize) return DbCode::Ok;
  uint8_t raw[kTrailerSize];
  if (DbCode rc = read_all(rf.file, static_cast<int64_t>(size) - kTrailerSize, raw, sizeof raw,
                           DbCode::RecordReadFailed);
      rc != DbCode::Ok) {
    return rc;
  }
  Trailer t;
  if (!Trailer::parse(raw, &t) || !t.fits(rf, size, *count)) return DbCode::Ok;
  uint32_t crc = 0;
  if (DbCode rc = copy_crc(rf, t.old_count, t.moved, &crc); rc != DbCode::Ok) return rc;
  if (crc != t.copy_crc) return DbCode::Ok;  // the copy never became whole, so nothing had moved yet
  if (DbCode rc = apply_move(rf, t); rc != DbCode::Ok) return rc;
  *count = static_cast<int32_t>(t.new_count());
  return DbCode::Ok;
}

DbCode compact_records(const RecordFile& rf, Removal what, int32_t* count) {
  *count = 0;
  int32_t old_count = 0, next_serial = 0;  // a purge keeps the next serial as it is
  if (DbCode rc = read_count_held(rf.file, &old_count, &next_serial); rc != DbCode::Ok) return rc;
  *count = old_count;
  // A move a cut left half done is finished first, and what else lies behind the counted records
  // goes, so the new copy and its trailer end the file.
  if (DbCode rc = finish_interrupted_compaction(rf, &old_count); rc != DbCode::Ok) return rc;
  *count = old_count;
  uint64_t size = 0;
  if (FileCause c = rf.file.size(&size); c != FileCause::None) return db_code_of(c);
  const int64_t end = rf.record_pos(old_count);
  if (static_cast<int64_t>(size) > end) {
    if (FileCause c = rf.file.set_size(static_cast<uint64_t>(end)); c != FileCause::None)
      return db_code_of(c);
  }
  Walk walk(rf, what, old_count);
  DbCode rc = walk.run();
  bool committed = false;
  if (rc == DbCode::Ok && walk.dropped_any()) rc = move_and_shorten(rf, walk, old_count, &committed);
  if (rc != DbCode::Ok) {
    // Before the copy is whole on the disk no slot has changed, so the copy simply goes.
    if (!committed) std::ignore = rf.file.set_size(static_cast<uint64_t>(end));
    return rc;
  }
  if (!walk.dropped_any()) return DbCode::Ok;
  *count = walk.first_drop() + walk.moved();
  std::vector<int32_t> chains = walk.chains_to_free();
  if (chains.empty()) return DbCode::Ok;
  if (!rf.aux) return DbCode::AuxAccess;
  // A chain that cannot be freed is lost space; the others are freed and synced all the same.
  const DbCode chain_rc = free_chains(*rf.aux, chains, rf.wait_ms);
  const DbCode sync_rc = sync_file(*rf.aux);  // barrier 4
  return chain_rc != DbCode::Ok ? chain_rc : sync_rc;
}

}  // namespace pennacle
