// Reads, writes and frees chains in an auxiliary file made from the input.
// Input: three 4-byte block numbers (two chains to read, one to free), then the file.
#include <cstdint>
#include <cstring>
#include <tuple>

#include "fuzz/mem_file.h"
#include "store/aux_file.h"

using namespace pennacle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  int32_t starts[3];
  std::memcpy(starts, data, 12);
  auto bytes = std::make_shared<std::string>(reinterpret_cast<const char*>(data + 12), size - 12);
  fuzzing::MemFile f(bytes);
  // Whatever the bytes, each call ends with a code: which one does not matter here.
  std::string out;
  std::ignore = read_chain(f, starts[0], &out);
  int32_t first = 0;
  if (write_chain(f, std::string(1201, 'w'), 0, &first) == DbCode::Ok && first != 0) {
    // A chain just written reads back whole.
    std::string back;
    if (read_chain(f, first, &back) != DbCode::Ok || back != std::string(1201, 'w')) __builtin_trap();
  }
  std::ignore = free_chain(f, starts[2], 0);
  std::ignore = free_chain(f, first, 0);
  std::ignore = read_chain(f, starts[1], &out);
  std::ignore = write_chain(f, std::string(30, 's'), 0, &first);
  return 0;
}
