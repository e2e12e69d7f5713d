// Arbitrary bytes as a ".SKN" skin block: the reader refuses or accepts without reading outside
// the block, and what it accepts writes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ui/skin_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto skin = pennacle::read_skin({data, size});
  if (!skin) return 0;
  // Records of unknown tags are skipped on reading, so only blocks without them round-trip.
  const auto again = pennacle::read_skin(pennacle::write_skin(*skin));
  if (!again || !(*again == *skin)) std::abort();
  return 0;
}
