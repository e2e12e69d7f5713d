#include "store/check.h"

#include <algorithm>
#include <memory>
#include <tuple>
#include <unordered_set>

#include "platform/gbk.h"
#include "store/aux_file.h"
#include "store/locks.h"
#include "store/paths.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

constexpr int32_t kCheckWaitMs = 2000;

class Checker {
 public:
  explicit Checker(CheckReport& r) : r_(r) {}

  void error(const std::string& s) {
    r_.sound = false;
    r_.lines.push_back("error: " + s);
  }
  void note(const std::string& s) { r_.lines.push_back("note: " + s); }
  void info(const std::string& s) { r_.lines.push_back(s); }

  void run(std::string_view gbk_path) {
    Text name(gbk_path);
    Value ro = Value::of_int(1);
    Value result = call_command(db_open, {name.value(), Value{}, ro});
    if (!result.lo) {
      const DbCode code = db_last_error();
      error(gbk_to_utf8_lossy(db_error_text(code)) + " (" + std::to_string(code_number(code)) + ")");
      return;
    }
    DatabaseInfo info;
    if (!db_current_info(&info)) return error("the database opened but is not current");
    walk(info);
    Text full(info.full_path);
    call_command(db_close, {full.value()});
  }

 private:
  void walk(const DatabaseInfo& info) {
    std::unique_ptr<File> main = open_locked(info);
    if (!main) return;
    uint8_t raw[kHeaderSize];
    size_t got = 0;
    uint64_t size = 0;
    if (main->read_at(0, raw, sizeof raw, &got) != FileCause::None || got != sizeof raw ||
        main->size(&size) != FileCause::None) {
      return error("cannot read the header");
    }
    const int32_t count = get_i32(raw + kCountOffset), next = get_i32(raw + kNextSerialOffset);
    const int64_t end = info.data_start + count * int64_t{info.record_length};
    info_line(info, count, next);
    if (static_cast<int64_t>(size) > end) {
      note(std::to_string(static_cast<int64_t>(size) - end) +
           " bytes after the last record (dropped at the next writable open)");
    }
    walk_records(*main, info, count, next);
    if (aux_) walk_free_list();
    // Read only: nothing depends on letting the locks go before the files close.
    std::ignore = platform_unlock(*main, kWholeFile);
    if (aux_) std::ignore = platform_unlock(*aux_, kWholeFile);
  }

  // The record file, and the auxiliary file when the table has chains, opened a second time and
  // locked whole while they are read: an operation of another instance in between would show a
  // half-done state. nullptr after an error.
  std::unique_ptr<File> open_locked(const DatabaseInfo& info) {
    FileSystem& fs = posix_file_system();
    std::unique_ptr<File> main;
    if (fs.open(info.full_path, FileAccess::Read, FileShare::DenyNone, &main) != FileCause::None) {
      error("cannot open the file a second time to read it");
      return nullptr;
    }
    if (DbCode rc = platform_lock(*main, kWholeFile, kCheckWaitMs); rc != DbCode::Ok) {
      error("the file is busy (" + std::to_string(code_number(rc)) + ")");
      return nullptr;
    }
    bool has_chains = false;
    for (const FieldDescriptor& f : info.fields) has_chains = has_chains || is_chain_type(f.type);
    if (!has_chains) return main;
    if (fs.open(aux_path_of(info.full_path), FileAccess::Read, FileShare::DenyNone, &aux_) !=
        FileCause::None) {
      error("cannot open the auxiliary file");
      return nullptr;
    }
    if (DbCode rc = platform_lock(*aux_, kWholeFile, kCheckWaitMs); rc != DbCode::Ok) {
      error("the auxiliary file is busy (" + std::to_string(code_number(rc)) + ")");
      return nullptr;
    }
    read_aux_header();
    return main;
  }

  void walk_records(File& main, const DatabaseInfo& info, int32_t count, int32_t next) {
    const int64_t reclen = info.record_length;
    std::unordered_set<int32_t> serials;
    std::vector<uint8_t> rec(static_cast<size_t>(reclen));
    for (int32_t k = 0; k < count; ++k) {
      size_t got = 0;
      if (main.read_at(static_cast<uint64_t>(info.data_start + k * reclen), rec.data(), rec.size(), &got) !=
              FileCause::None ||
          got != rec.size()) {
        error("record " + std::to_string(k + 1) + " cannot be read");
        break;
      }
      const int32_t serial = get_i32(rec.data());
      ++r_.records;
      if (serial == 0) error("record " + std::to_string(k + 1) + " has serial 0");
      if (serial < 0) ++r_.deleted;
      if (serial > 0) {
        ++r_.live;
        if (!serials.insert(serial).second) {
          error("serial " + std::to_string(serial) +
                " is live twice (an interrupted purge; the next purge drops the copy)");
        }
        if (serial >= next)
          error("serial " + std::to_string(serial) + " is not below the next serial " + std::to_string(next));
      }
      for (const FieldDescriptor& f : info.fields) {
        if (is_chain_type(f.type)) walk_chain(get_i32(rec.data() + f.offset), k + 1, serial > 0);
      }
    }
  }

  void info_line(const DatabaseInfo& db, int32_t count, int32_t next) {
    std::string fields;
    for (const FieldDescriptor& f : db.fields) {
      if (!fields.empty()) fields += ", ";
      fields += gbk_to_utf8_lossy(f.name) + ":" + std::to_string(static_cast<int32_t>(f.type));
    }
    info("fields: " + fields);
    info("record length " + std::to_string(db.record_length) + ", records " + std::to_string(count) +
         ", next serial " + std::to_string(next));
  }

  void read_aux_header() {
    uint8_t raw[kAuxHeaderSize];
    size_t got = 0;
    uint64_t size = 0;
    if (aux_->read_at(0, raw, sizeof raw, &got) != FileCause::None || got != sizeof raw ||
        aux_->size(&size) != FileCause::None) {
      aux_.reset();
      return error("cannot read the auxiliary header");
    }
    aux_header_ = AuxHeader::parse(raw);
    r_.blocks = aux_header_.block_count;
    r_.free_blocks = aux_header_.free_count;
    const int64_t present = static_cast<int64_t>(size / kAuxBlockSize);
    if (present < aux_header_.block_count) {
      error("the auxiliary file holds " + std::to_string(present) + " blocks, its header counts " +
            std::to_string(aux_header_.block_count));
      aux_header_.block_count = static_cast<int32_t>(present);
    } else if (present > aux_header_.block_count) {
      note(std::to_string(present - aux_header_.block_count) + " spare blocks after the counted ones");
    }
    owner_.assign(static_cast<size_t>(std::max(aux_header_.block_count, 1)), 0);
  }

  bool read_links(int32_t b, AuxLinks* l) {
    uint8_t raw[kAuxLinkSize];
    size_t got = 0;
    if (aux_->read_at(static_cast<uint64_t>(b) * kAuxBlockSize, raw, sizeof raw, &got) != FileCause::None ||
        got != sizeof raw) {
      return false;
    }
    *l = AuxLinks::parse(raw);
    return true;
  }

  void walk_chain(int32_t first, int32_t record, bool live) {
    if (first == 0) return;
    const std::string where = "record " + std::to_string(record) + ": ";
    if (!aux_) return error(where + "a chain but no auxiliary file");
    int32_t b = first, previous = 0;
    for (int32_t steps = 0;; ++steps) {
      AuxLinks l;
      if (b < 1 || b >= aux_header_.block_count || steps >= aux_header_.block_count) {
        return live ? error(where + "chain leaves the file or loops at block " + std::to_string(b))
                    : note(where + "(deleted) chain leaves the file or loops");
      }
      if (owner_[static_cast<size_t>(b)] == record)
        return error(where + "chain loops at block " + std::to_string(b));
      if (owner_[static_cast<size_t>(b)] != 0) {
        return error(where + "block " + std::to_string(b) + " also belongs to record " +
                     std::to_string(owner_[static_cast<size_t>(b)]));
      }
      if (!read_links(b, &l) || l.used < 1 || l.used > kAuxDataSize) {
        return live ? error(where + "block " + std::to_string(b) + " is not a used block")
                    : note(where + "(deleted) chain already freed");
      }
      if (l.previous != previous) note(where + "block " + std::to_string(b) + " has a stale previous link");
      owner_[static_cast<size_t>(b)] = record;
      ++r_.chain_blocks;
      if (l.next == 0) return;
      previous = b;
      b = l.next;
    }
  }

  void walk_free_list() {
    int32_t walked = 0;
    for (int32_t b = aux_header_.first_free; b != 0;) {
      AuxLinks l;
      if (b < 0 || b >= aux_header_.block_count || walked >= aux_header_.block_count) {
        error("the free list leaves the file or loops at block " + std::to_string(b));
        break;
      }
      if (owner_[static_cast<size_t>(b)] != 0) {
        error("free block " + std::to_string(b) + " belongs to record " +
              std::to_string(owner_[static_cast<size_t>(b)]));
        break;
      }
      if (!read_links(b, &l) || l.used != 0) {
        // The store drops such a list rather than follow it: space is lost, nothing else.
        note("the free list reaches block " + std::to_string(b) + ", which is in use or unreadable");
        break;
      }
      owner_[static_cast<size_t>(b)] = -1;
      ++walked;
      b = l.next;
    }
    if (walked != aux_header_.free_count) {
      note("the free list holds " + std::to_string(walked) + " blocks, the header counts " +
           std::to_string(aux_header_.free_count));
    }
    int32_t leaked = 0;
    for (size_t b = 1; b < owner_.size(); ++b) leaked += owner_[b] == 0;
    if (leaked > 0)
      note(std::to_string(leaked) + " blocks belong to nothing (space lost to an interrupted write)");
  }

  CheckReport& r_;
  std::unique_ptr<File> aux_;
  AuxHeader aux_header_;
  std::vector<int32_t> owner_;  // per block: record number, -1 free, 0 nothing
};

}  // namespace

CheckReport check_database(std::string_view gbk_path) {
  CheckReport r;
  Checker(r).run(gbk_path);
  return r;
}

}  // namespace pennacle
