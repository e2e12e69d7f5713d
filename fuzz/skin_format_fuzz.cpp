// Arbitrary bytes as a ".SKN" skin block: the reader refuses or accepts without reading outside
// the block, and what it accepts writes back to an equal skin. The bytes are read twice: as they
// are, and with the header's length and checksum made to agree, so that mutations reach the
// records behind the checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ui/skin_format.h"

namespace {

void check(std::span<const uint8_t> block) {
  const auto skin = pennacle::read_skin(block);
  if (!skin) return;
  const auto again = pennacle::read_skin(pennacle::write_skin(*skin));
  if (!again || !(*again == *skin)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check({data, size});
  if (size >= pennacle::kSkinHeaderSize) {
    std::vector<uint8_t> sealed(data, data + size);
    const auto length = static_cast<uint32_t>(size);
    std::memcpy(sealed.data() + 8, &length, 4);
    const uint32_t crc =
        pennacle::skin_crc32(std::span<const uint8_t>(sealed).subspan(pennacle::kSkinHeaderSize));
    std::memcpy(sealed.data() + 12, &crc, 4);
    check(sealed);
  }
  return 0;
}
