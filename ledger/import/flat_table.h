// An insert-only hash table in one array (open addressing, linear probing), for the import's tables
// over 100,000s of rows and log entries: a lookup costs about one cache miss, where a node-based
// table costs several and a node allocation per key. Keys are compared only when their full hashes
// agree. Pointers to values stay valid until the next insertion. At most 2^32 - 2 keys.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pennacle {

template <typename Key, typename Value, typename Hash>
class FlatTable {
 public:
  // Room for `n` keys without growing.
  void reserve(size_t n) {
    entries_.reserve(n);
    if (n * 2 > slots_.size()) rehash(std::bit_ceil(std::max<size_t>(n * 2, kMinSlots)));
  }

  // The value of `key`, inserted as `value` when absent; second: whether it was inserted.
  std::pair<Value*, bool> try_emplace(const Key& key, const Value& value) {
    if ((entries_.size() + 1) * 2 > slots_.size()) rehash(std::max(slots_.size() * 2, kMinSlots));
    const uint64_t h = Hash()(key);
    Slot* s = probe(key, h);
    if (s->entry != 0) return {&entries_[s->entry - 1].value, false};
    entries_.push_back({key, value});
    *s = Slot{tag(h), static_cast<uint32_t>(entries_.size())};
    return {&entries_.back().value, true};
  }
  // Inserts `key` with a default value; false when it was there already.
  bool insert(const Key& key) { return try_emplace(key, Value()).second; }

  Value* find(const Key& key) {
    if (entries_.empty()) return nullptr;
    const Slot* s = probe(key, Hash()(key));
    return s->entry != 0 ? &entries_[s->entry - 1].value : nullptr;
  }
  const Value* find(const Key& key) const { return const_cast<FlatTable*>(this)->find(key); }
  bool contains(const Key& key) const { return find(key) != nullptr; }
  // Starts loading the slot where `key` would be: a caller walking many keys asks a few ahead.
  void prefetch(const Key& key) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[home(Hash()(key))]);
  }
  size_t size() const { return entries_.size(); }

 private:
  static constexpr size_t kMinSlots = 16;
  // Eight bytes a slot: a probe reads little memory; the key is read only when the tags agree.
  struct Slot {
    uint32_t tag = 0;
    uint32_t entry = 0;  // 1 + the index in entries_; 0: empty
  };
  struct Entry {
    Key key;
    Value value;
  };

  static uint32_t tag(uint64_t h) { return static_cast<uint32_t>(h >> 32); }
  // The high bits of the hash times the golden ratio pick the first slot: they depend on every bit.
  size_t home(uint64_t h) const {
    return static_cast<size_t>((h * 0x9e3779b97f4a7c15ull) >> (64 - std::countr_zero(slots_.size())));
  }
  // The slot holding `key`, or the empty one where it would go.
  Slot* probe(const Key& key, uint64_t h) {
    const size_t mask = slots_.size() - 1;
    const uint32_t t = tag(h);
    for (size_t i = home(h);; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.entry == 0 || (s.tag == t && entries_[s.entry - 1].key == key)) return &s;
    }
  }
  void rehash(size_t slots) {
    slots_.assign(slots, Slot());
    const size_t mask = slots - 1;
    for (size_t e = 0; e < entries_.size(); ++e) {
      const uint64_t h = Hash()(entries_[e].key);
      size_t i = home(h);
      while (slots_[i].entry != 0) i = (i + 1) & mask;
      slots_[i] = Slot{tag(h), static_cast<uint32_t>(e + 1)};
    }
  }

  std::vector<Slot> slots_;     // a power of two in size, at most half full
  std::vector<Entry> entries_;  // in the order they were inserted
};

}  // namespace pennacle
