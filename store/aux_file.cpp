#include "store/aux_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "store/errors.h"
#include "store/locks.h"

namespace pennacle {
namespace {

using Block = std::array<uint8_t, kAuxBlockSize>;

// Blocks a chain read takes at once when they follow one another.
constexpr size_t kChainRunBlocks = 8;

int64_t block_offset(int32_t b) { return int64_t{b} * kAuxBlockSize; }

// A file error inside a chain: a failure without a cause of its own is AuxAccess.
DbCode chain_code(FileCause c) { return db_code_of(c, DbCode::AuxAccess); }

// Reads `n` bytes at `offset`; a short read is AuxAccess.
DbCode read_exact(File& f, int64_t offset, void* buf, size_t n) {
  size_t got = 0;
  if (FileCause c = f.read_at(static_cast<uint64_t>(offset), buf, n, &got); c != FileCause::None) {
    return chain_code(c);
  }
  return got == n ? DbCode::Ok : DbCode::AuxAccess;
}

DbCode write_exact(File& f, int64_t offset, const void* buf, size_t n) {
  FileCause c = f.write_at(static_cast<uint64_t>(offset), buf, n);
  return c == FileCause::None ? DbCode::Ok : chain_code(c);
}

DbCode read_links(File& f, int32_t b, AuxLinks* links) {
  uint8_t raw[kAuxLinkSize];
  if (DbCode rc = read_exact(f, block_offset(b), raw, sizeof raw); rc != DbCode::Ok) return rc;
  *links = AuxLinks::parse(raw);
  return DbCode::Ok;
}

DbCode write_links(File& f, int32_t b, const AuxLinks& links) {
  uint8_t raw[kAuxLinkSize];
  links.encode(raw);
  return write_exact(f, block_offset(b), raw, sizeof raw);
}

// Finds a loop in a chain without remembering its blocks: the walk meets again a block it keeps
// at each power-of-two step (Brent), within about three times the blocks of the loop and its lead.
class LoopFinder {
 public:
  bool repeats(int32_t block) {
    if (block == kept_) return true;
    if (++steps_ == next_keep_) {
      kept_ = block;
      next_keep_ *= 2;
    }
    return false;
  }

 private:
  int32_t kept_ = 0;  // never a block: blocks are numbered from 1
  uint64_t steps_ = 0, next_keep_ = 1;
};

// The locks one chain routine holds on the auxiliary file (writing chains holds the header and every
// new block; freeing one holds all of its blocks); all are released when it ends. An unlock of a
// byte this open holds fails only with a closed file, whose locks are gone with it.
class HeldLocks {
 public:
  HeldLocks(File& f, int32_t wait_ms) : f_(f), wait_ms_(wait_ms) {}
  ~HeldLocks() {
    // The newest first: a file keeps its holds as a stack, so each is let go without a search.
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) std::ignore = platform_unlock(f_, *it);
  }
  DbCode lock(int64_t position) {
    DbCode rc = platform_lock(f_, position, wait_ms_);
    if (rc == DbCode::Ok) held_.push_back(position);
    return rc;
  }

 private:
  File& f_;
  int32_t wait_ms_;
  std::vector<int64_t> held_;
};

DbCode read_header(File& f, AuxHeader* h) {
  uint8_t raw[kAuxHeaderSize];
  if (DbCode rc = read_exact(f, 0, raw, sizeof raw); rc != DbCode::Ok) return rc;
  *h = AuxHeader::parse(raw);
  return h->magic_ok && h->sane() ? DbCode::Ok : DbCode::AuxAccess;
}

DbCode write_header(File& f, const AuxHeader& h) {
  uint8_t raw[kAuxHeaderSize];
  h.encode(raw);
  return write_exact(f, 0, raw, sizeof raw);
}

// The free-list head, if it can be trusted: inside the file and marked free. A head that is not
// (a crash between writing a chain and its header) is dropped with the whole list: those blocks
// leak, but none is handed out twice.
DbCode trusted_head(File& f, AuxHeader* h, AuxLinks* head_links) {
  if (h->free_count > 0 && h->first_free > 0 && h->first_free < h->block_count) {
    if (DbCode rc = read_links(f, h->first_free, head_links); rc != DbCode::Ok && rc != DbCode::AuxAccess)
      return rc;
    else if (rc == DbCode::Ok && head_links->used == 0)
      return DbCode::Ok;
  }
  h->free_count = 0;
  h->first_free = 0;
  return DbCode::Ok;
}

}  // namespace

DbCode read_chain(File& aux, int32_t first, std::string* out) {
  out->clear();
  if (first == 0) return DbCode::Ok;
  // A run of blocks read at once; a chain's first read takes one block, as most chains have one.
  std::array<uint8_t, kChainRunBlocks * kAuxBlockSize> run;
  int32_t run_first = 0, run_blocks = 0;
  int32_t want = 1;
  LoopFinder loop;  // a block past the end of the file reads short
  for (int32_t b = first;;) {
    if (b < 1 || b >= kMaxAuxBlocks || loop.repeats(b)) return DbCode::AuxAccess;
    if (b < run_first || b >= run_first + run_blocks) {
      want = std::min<int32_t>(want, static_cast<int32_t>(kMaxAuxBlocks - b));
      const auto at = static_cast<uint64_t>(block_offset(b));
      const size_t bytes = static_cast<size_t>(want) * kAuxBlockSize;
      size_t got = bytes;
      // Bytes past the file's end are never copied from the mapping: those are read, and read short.
      if (!aux.read_mapped(at, run.data(), bytes)) {
        if (FileCause c = aux.read_at(at, run.data(), bytes, &got); c != FileCause::None)
          return chain_code(c);
      }
      run_first = b;
      run_blocks = static_cast<int32_t>(got / kAuxBlockSize);
      if (run_blocks == 0) return DbCode::AuxAccess;
    }
    const uint8_t* block = run.data() + int64_t{b - run_first} * kAuxBlockSize;
    const AuxLinks links = AuxLinks::parse(block);
    if (links.used < 1 || links.used > kAuxDataSize) return DbCode::AuxAccess;
    out->append(reinterpret_cast<const char*>(block + kAuxLinkSize), static_cast<size_t>(links.used));
    if (links.next == 0) return DbCode::Ok;
    // A chain that goes on with the next block is read on in a run.
    want = links.next == b + 1 ? static_cast<int32_t>(kChainRunBlocks) : 1;
    b = links.next;
  }
}

namespace {

// The next block for a new chain, taken from `h` (the header, held): the free list's head when it
// can be trusted, else a new block at the end. A head already handed out in this hold (`taken`; a
// list that loops back) is not trusted either: no block is handed out twice.
DbCode take_block(File& aux, AuxHeader* h, std::unordered_set<int32_t>* taken, int32_t* b) {
  AuxLinks head;
  if (DbCode rc = trusted_head(aux, h, &head); rc != DbCode::Ok) return rc;
  if (h->first_free != 0 && head.next >= 0 && head.next < h->block_count && head.next != h->first_free &&
      taken->insert(h->first_free).second) {
    *b = h->first_free;
    h->first_free = head.next;
    --h->free_count;
    if (h->first_free == 0) h->free_count = 0;
    return DbCode::Ok;
  }
  if (h->block_count >= kMaxAuxBlocks) return DbCode::AuxAccess;
  h->free_count = 0;  // an unusable list is dropped, not followed
  h->first_free = 0;
  *b = h->block_count++;
  return DbCode::Ok;
}

// New chains' blocks as they are handed out, then written: each locked first, in block order, the
// blocks that follow one another in one write.
class NewBlocks {
 public:
  void add(int32_t b, int32_t previous, std::string_view part) {
    Block block{};
    AuxLinks{previous, 0, static_cast<int32_t>(part.size())}.encode(block.data());
    std::memcpy(block.data() + kAuxLinkSize, part.data(), part.size());
    numbers_.push_back(b);
    blocks_.push_back(block);
  }
  // Links the last block added to block `next`.
  void link_last(int32_t next) {
    AuxLinks l = AuxLinks::parse(blocks_.back().data());
    l.next = next;
    l.encode(blocks_.back().data());
  }
  void reserve(size_t blocks) {
    numbers_.reserve(blocks);
    blocks_.reserve(blocks);
  }
  DbCode write(File& aux, HeldLocks& locks) {
    if (follow_one_another()) {  // new blocks at the end of the file: one write from where they are
      for (int32_t b : numbers_) {
        if (DbCode rc = locks.lock(block_offset(b)); rc != DbCode::Ok) return rc;
      }
      return write_exact(aux, block_offset(numbers_.front()), blocks_.data(), blocks_.size() * kAuxBlockSize);
    }
    std::vector<size_t> order(numbers_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return numbers_[x] < numbers_[y]; });
    std::vector<uint8_t> run;
    for (size_t k = 0; k < order.size();) {
      const int32_t first = numbers_[order[k]];
      run.clear();
      for (int32_t b = first; k < order.size() && numbers_[order[k]] == b; ++k, ++b) {
        if (DbCode rc = locks.lock(block_offset(b)); rc != DbCode::Ok) return rc;
        run.insert(run.end(), blocks_[order[k]].begin(), blocks_[order[k]].end());
      }
      if (DbCode rc = write_exact(aux, block_offset(first), run.data(), run.size()); rc != DbCode::Ok)
        return rc;
    }
    return DbCode::Ok;
  }

 private:
  bool follow_one_another() const {
    for (size_t i = 1; i < numbers_.size(); ++i) {
      if (numbers_[i] != numbers_[i - 1] + 1) return false;
    }
    return !numbers_.empty();
  }

  std::vector<int32_t> numbers_;
  std::vector<Block> blocks_;
};

}  // namespace

DbCode write_chains(File& aux, std::span<const std::string_view> values, int32_t wait_ms,
                    std::vector<int32_t>* firsts) {
  firsts->assign(values.size(), 0);
  if (std::all_of(values.begin(), values.end(), [](std::string_view v) { return v.empty(); }))
    return DbCode::Ok;
  HeldLocks locks(aux, wait_ms);
  AuxHeader h;
  if (DbCode rc = locks.lock(0); rc != DbCode::Ok) return rc;
  if (DbCode rc = read_header(aux, &h); rc != DbCode::Ok) return rc;
  std::unordered_set<int32_t> taken;
  NewBlocks blocks;
  size_t needed = 0;
  for (std::string_view v : values) needed += (v.size() + kAuxDataSize - 1) / kAuxDataSize;
  blocks.reserve(needed);
  std::vector<int32_t> chain_firsts(values.size(), 0);
  for (size_t i = 0; i < values.size(); ++i) {
    int32_t previous = 0;
    for (size_t pos = 0; pos < values[i].size(); pos += kAuxDataSize) {
      int32_t b = 0;
      if (DbCode rc = take_block(aux, &h, &taken, &b); rc != DbCode::Ok) return rc;
      if (previous != 0) blocks.link_last(b);
      if (previous == 0) chain_firsts[i] = b;
      blocks.add(b, previous, values[i].substr(pos, kAuxDataSize));
      previous = b;
    }
  }
  // The blocks before the header that hands them out: a cut between leaves them unreferenced.
  if (DbCode rc = blocks.write(aux, locks); rc != DbCode::Ok) return rc;
  if (DbCode rc = write_header(aux, h); rc != DbCode::Ok) return rc;
  *firsts = std::move(chain_firsts);
  return DbCode::Ok;
}

DbCode write_chain(File& aux, std::string_view bytes, int32_t wait_ms, int32_t* first) {
  std::vector<int32_t> firsts;
  const DbCode rc = write_chains(aux, {&bytes, 1}, wait_ms, &firsts);
  *first = firsts[0];
  return rc;
}

namespace {

// The free list while chains are put on it: the header (read and locked by the caller) and the
// links of the list's first block. The first block's links are written once the next chain is
// put in front of it, or at the end, so each freed block is written once.
struct FreeList {
  AuxHeader h;
  AuxLinks head;
  bool head_pending = false;  // `head` not yet written to block h.first_free
  bool touched_end = false;   // a block at the file's end was freed: trim

  // The links of block b as the file will hold them once the pending write is done.
  DbCode links_of(File& aux, int32_t b, AuxLinks* l) const {
    if (head_pending && b == h.first_free) return *l = head, DbCode::Ok;
    return read_links(aux, b, l);
  }
  DbCode write_pending(File& aux) {
    if (!head_pending) return DbCode::Ok;
    head_pending = false;
    return write_links(aux, h.first_free, head);
  }
};

// Puts one chain on the free list. Nothing is written for a chain that does not check out whole.
DbCode free_one(File& aux, int32_t first, int32_t wait_ms, FreeList& list) {
  AuxHeader& h = list.h;
  HeldLocks locks(aux, wait_ms);
  std::vector<int32_t> blocks;
  std::vector<AuxLinks> links;
  LoopFinder loop;
  for (int32_t b = first;;) {
    if (b < 1 || b >= h.block_count || loop.repeats(b)) return DbCode::AuxAccess;
    if (DbCode rc = locks.lock(block_offset(b)); rc != DbCode::Ok) return rc;
    AuxLinks l;
    if (DbCode rc = list.links_of(aux, b, &l); rc != DbCode::Ok) return rc;
    if (l.used == 0 && blocks.empty()) return DbCode::Ok;  // already freed (a purge that did not finish)
    if (l.used < 1 || l.used > kAuxDataSize) return DbCode::AuxAccess;
    blocks.push_back(b);
    links.push_back(l);
    if (l.next == 0) break;
    b = l.next;
  }
  if (std::find(blocks.begin(), blocks.end(), h.first_free) != blocks.end()) {
    h.first_free = 0;
    h.free_count = 0;
    list.head_pending = false;  // that block is written below as part of this chain
  }
  AuxLinks new_head;
  for (size_t i = 0; i < blocks.size(); ++i) {
    AuxLinks l = links[i];
    l.used = 0;
    if (i == 0) l.previous = 0;
    if (i + 1 == blocks.size()) l.next = h.first_free;
    if (i == 0) {
      new_head = l;  // written when the next chain comes in front, or at the end
    } else if (DbCode rc = write_links(aux, blocks[i], l); rc != DbCode::Ok) {
      return rc;
    }
    if (blocks[i] == h.block_count - 1) list.touched_end = true;
  }
  if (h.first_free != 0) {
    list.head.previous = blocks.back();
    list.head_pending = true;
    if (DbCode rc = list.write_pending(aux); rc != DbCode::Ok) return rc;
  }
  h.first_free = first;
  list.head = new_head;
  list.head_pending = true;
  h.free_count =
      static_cast<int32_t>(std::min<int64_t>(int64_t{h.free_count} + blocks.size(), h.block_count - 1));
  return DbCode::Ok;
}

// Trim: free blocks at the end of the file leave the list and the file.
DbCode trim(File& aux, AuxHeader& h) {
  const int32_t old_count = h.block_count;
  int32_t b = old_count - 1;
  for (; b > 0; --b) {
    AuxLinks l;
    if (DbCode rc = read_links(aux, b, &l); rc != DbCode::Ok) return rc;
    if (l.used > 0) break;
    const bool next_ok = l.next > 0 && l.next < old_count && l.next != b;
    bool linked = false;
    int32_t new_prev = 0;
    if (b == h.first_free) {
      h.first_free = next_ok ? l.next : 0;
      linked = true;
    } else if (l.previous > 0 && l.previous < old_count && l.previous != b) {
      AuxLinks pl;
      if (DbCode rc = read_links(aux, l.previous, &pl); rc != DbCode::Ok) return rc;
      if (pl.used == 0 && pl.next == b) {
        pl.next = next_ok ? l.next : 0;
        if (DbCode rc = write_links(aux, l.previous, pl); rc != DbCode::Ok) return rc;
        linked = true;
        new_prev = l.previous;
      }
    }
    // A block that is not on the list (its free was cut short) is simply dropped with the file end.
    if (linked && next_ok) {
      AuxLinks nl;
      if (DbCode rc = read_links(aux, l.next, &nl); rc != DbCode::Ok) return rc;
      nl.previous = new_prev;
      if (DbCode rc = write_links(aux, l.next, nl); rc != DbCode::Ok) return rc;
    }
    if (linked && h.free_count > 0) --h.free_count;
  }
  h.block_count = b + 1;
  if (h.first_free >= h.block_count) h.first_free = 0;
  if (h.first_free == 0) h.free_count = 0;
  h.free_count = std::min(h.free_count, h.block_count - 1);
  return DbCode::Ok;
}

}  // namespace

DbCode free_chains(File& aux, const std::vector<int32_t>& firsts, int32_t wait_ms) {
  if (std::all_of(firsts.begin(), firsts.end(), [](int32_t f) { return f == 0; })) return DbCode::Ok;
  HeldLocks locks(aux, wait_ms);
  if (DbCode rc = locks.lock(0); rc != DbCode::Ok) return rc;
  FreeList list;
  AuxHeader& h = list.h;
  if (DbCode rc = read_header(aux, &h); rc != DbCode::Ok) return rc;
  if (DbCode rc = trusted_head(aux, &h, &list.head); rc != DbCode::Ok) return rc;
  const int32_t old_count = h.block_count;
  DbCode result = DbCode::Ok;
  for (int32_t first : firsts) {
    if (first == 0) continue;
    // A chain that cannot be freed is remembered; the others are freed all the same.
    if (DbCode rc = free_one(aux, first, wait_ms, list); rc != DbCode::Ok) result = rc;
  }
  if (DbCode rc = list.write_pending(aux); rc != DbCode::Ok) return rc;
  if (list.touched_end) {
    if (DbCode rc = trim(aux, h); rc != DbCode::Ok) return rc;
  }
  // The header goes first: a crash before the cut leaves spare blocks past the count, which the
  // next chain simply overwrites.
  if (DbCode rc = write_header(aux, h); rc != DbCode::Ok) return rc;
  if (h.block_count != old_count) {
    if (FileCause c = aux.set_size(static_cast<uint64_t>(block_offset(h.block_count)));
        c != FileCause::None) {
      return chain_code(c);
    }
  }
  return result;
}

DbCode free_chain(File& aux, int32_t first, int32_t wait_ms) { return free_chains(aux, {first}, wait_ms); }

DbCode validate_aux(File& aux, uint32_t version, bool writable, int32_t wait_ms) {
  if (DbCode rc = platform_lock(aux, kWholeFile, wait_ms); rc != DbCode::Ok) return rc;
  DbCode result = DbCode::Ok;
  uint8_t raw[kAuxHeaderSize];
  size_t got = 0;
  uint64_t size = 0;
  if (aux.read_at(0, raw, sizeof raw, &got) != FileCause::None) {
    result = DbCode::OpenFailed;
  } else if (got < sizeof raw) {
    result = DbCode::AuxReadFailed;
  } else {
    AuxHeader h = AuxHeader::parse(raw);
    if (!h.magic_ok || !h.sane()) {
      result = DbCode::AuxReadFailed;
    } else if (h.version != version) {
      result = DbCode::AuxVersion;
    } else if (aux.size(&size) != FileCause::None) {
      result = DbCode::OpenFailed;
    } else if (static_cast<int64_t>(size / kAuxBlockSize) < h.block_count) {
      if (!writable) {
        result = DbCode::AuxDamaged;
      } else {
        uint8_t count[4];
        put_i32(count, static_cast<int32_t>(size / kAuxBlockSize));
        if (aux.write_at(16, count, 4) != FileCause::None || aux.sync() != FileCause::None) {
          result = DbCode::OpenFailed;
        }
      }
    }
  }
  // The check's result stands whether or not the whole-file lock could be let go.
  std::ignore = platform_unlock(aux, kWholeFile);
  return result;
}

std::string empty_aux_file(uint32_t version) {
  std::string s(kAuxBlockSize, '\0');
  AuxHeader h;
  h.version = version;
  h.encode(reinterpret_cast<uint8_t*>(s.data()));
  return s;
}

}  // namespace pennacle
