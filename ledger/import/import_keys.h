// Hash-table keys for the import's matching of rows, log entries and ledger records: views of the
// texts they hold, so that tables over 100,000s of bills neither copy nor compare strings in order.
// A view lives no longer than the entry, row or record it is taken from.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "ledger/import/flat_table.h"
#include "ledger/import/import_log.h"

namespace pennacle {

// Mixes `d` into `h`; -0 and 0 (equal as keys) mix the same.
inline uint64_t mix_double(uint64_t h, double d) {
  d += 0.0;  // -0 becomes 0
  uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof bits);
  return (h ^ (bits + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2))) * 0xff51afd7ed558ccdull;
}

// ImportKeyRef, an ImportKey of views, is in import_log.h beside the log's entries.

struct ImportKeyHash {
  size_t operator()(const ImportKeyRef& k) const {
    return mix_double(mix_double(std::hash<std::string_view>()(k.order), k.time), k.amount);
  }
};

// A bill as the import tells it apart: its key and side.
struct SidedKeyRef {
  ImportKeyRef key;
  bool income = false;
  bool operator==(const SidedKeyRef&) const = default;
};

struct SidedKeyHash {
  size_t operator()(const SidedKeyRef& k) const { return ImportKeyHash()(k.key) * 2 + k.income; }
};

// Live records by what they hold: time, amount as stored, side and channel (GBK).
struct ValueKeyRef {
  double time = 0, amount = 0;
  bool income = false;
  std::string_view channel;
  bool operator==(const ValueKeyRef&) const = default;
};

struct ValueKeyHash {
  size_t operator()(const ValueKeyRef& k) const {
    return mix_double(mix_double(std::hash<std::string_view>()(k.channel), k.time), k.amount) * 2 + k.income;
  }
};

// Stacks of record serials by key, all in one vector: take() gives the serial put last.
template <typename Key, typename Hash>
class SerialStacks {
 public:
  // Room for `n` keys and serials.
  void reserve(size_t n) {
    heads_.reserve(n);
    cells_.reserve(n);
  }
  size_t size() const { return heads_.size(); }  // keys
  void prefetch(const Key& key) const { heads_.prefetch(key); }
  void put(const Key& key, int32_t serial) {
    Head* head = heads_.try_emplace(key, Head()).first;
    cells_.push_back({serial, head->top});
    head->top = static_cast<int32_t>(cells_.size() - 1);
  }
  // Takes the serial put last under `key`; false when there is none left.
  bool take(const Key& key, int32_t* serial) {
    Head* head = heads_.find(key);
    return head && pop(head, serial);
  }
  // What meet found.
  struct Met {
    bool again = false;  // `key` was met before
    bool taken = false;  // *serial is the serial put last under it, taken
  };
  // Meets `key` (one lookup where a set of keys met and a take would be two): says whether it was
  // met before, and takes its last serial unless it was and `take_again` is false.
  Met meet(const Key& key, bool take_again, int32_t* serial) {
    Head* head = heads_.try_emplace(key, Head()).first;
    Met m;
    m.again = head->met;
    head->met = true;
    if (!m.again || take_again) m.taken = pop(head, serial);
    return m;
  }
  // The serials under `key`, the one put last first.
  std::vector<int32_t> serials(const Key& key) const {
    std::vector<int32_t> out;
    const Head* head = heads_.find(key);
    for (int32_t at = head ? head->top : kNone; at != kNone; at = cells_[static_cast<size_t>(at)].next) {
      out.push_back(cells_[static_cast<size_t>(at)].serial);
    }
    return out;
  }

 private:
  static constexpr int32_t kNone = -1;
  struct Head {
    int32_t top = kNone;  // the cell put last, or kNone
    bool met = false;
  };
  struct Cell {
    int32_t serial;
    int32_t next;  // the cell put before it under the same key, or kNone
  };
  bool pop(Head* head, int32_t* serial) {
    if (head->top == kNone) return false;
    const Cell& c = cells_[static_cast<size_t>(head->top)];
    *serial = c.serial;
    head->top = c.next;
    return true;
  }

  FlatTable<Key, Head, Hash> heads_;
  std::vector<Cell> cells_;
};

}  // namespace pennacle
