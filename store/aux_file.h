// The auxiliary block file: 512-byte blocks, block 0 holding the header, chains of blocks holding
// memo and byte-set values, and a doubly linked free list.
//
// Every walk is bounded by the block count, so a cycle or a block number outside the file ends
// with AuxAccess instead of an endless walk. Writes are ordered so that a crash at any point leaves at
// worst blocks that nothing references (leaked), never a block shared by two chains: a free-list
// head that is not marked free is not trusted, and freeing a chain whose first block is already
// free does nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "store/errors.h"
#include "store/format.h"

namespace pennacle {

// Reads the value of the chain starting at `first` (0: empty). Returns Ok, the code of a file
// error, or AuxAccess.
// REQUIRES: the caller holds the lock of the record whose field names the chain, or the whole
// record file. Every change to a chain in use is made under one of those (a purge frees chains under
// the whole file's lock), so its blocks cannot change while the read runs and no block lock is
// taken: a one-block chain costs one read, and blocks that follow one another are read in runs.
DbCode read_chain(File& aux, int32_t first, std::string* out);

// Writes `bytes` as a new chain; `*first` receives its first block (0 for no bytes).
DbCode write_chain(File& aux, std::string_view bytes, int32_t wait_ms, int32_t* first);
// Writes each of `values` as a new chain under one hold of the header, which is written once, after
// every block: (*firsts)[i] receives value i's first block (0 for no bytes). On a failure no chain
// is handed out and every first is 0.
DbCode write_chains(File& aux, std::span<const std::string_view> values, int32_t wait_ms,
                    std::vector<int32_t>* firsts);

// Puts the chain starting at `first` on the free list and trims free blocks at the end of the file.
DbCode free_chain(File& aux, int32_t first, int32_t wait_ms);
// The same for many chains under one hold of the header, in order. A chain that cannot be freed
// is left alone and its code returned; the others are freed all the same.
DbCode free_chains(File& aux, const std::vector<int32_t>& firsts, int32_t wait_ms);

// The open-time check: header, version against `version`, and the block count against the file
// length (corrected when writable). Takes the whole-file lock for the time of the check.
DbCode validate_aux(File& aux, uint32_t version, bool writable, int32_t wait_ms);

// The bytes of a valid empty auxiliary file.
std::string empty_aux_file(uint32_t version);

}  // namespace pennacle
