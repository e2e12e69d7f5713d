// The host module the carried skin engine image imports from (kSkinHostModule). Kept apart from
// the engine so that code using only the engine does not need the host library table.
#include "runtime/args.h"
#include "runtime/outside.h"
#include "ui/skin_engine.h"
#include "ui/skin_host.h"

namespace pennacle {
namespace {

// Host functions behind the image's imports; arguments as the image's callers pass them.
Word host_attach(std::span<const Word> words) {
  const WordArgs a(words);
  const auto* data = a.pointer<const uint8_t>(0);
  const Word length = a.word(1);
  if (data == nullptr || length == 0 || length > (Word{1} << 30)) return 0;
  return skin_attach(std::span<const uint8_t>(data, length)) ? 1 : 0;
}

Word host_detach(std::span<const Word>) { return skin_detach() ? 1 : 0; }

// The image's entry point: accepts every reason (attach, detach) without work of its own.
Word host_entry(std::span<const Word>) { return 1; }

constexpr HostExport kHostExports[] = {
    {kSkinHostAttach, kSkinHostAttachOrdinal, host_attach},
    {kSkinHostDetach, kSkinHostDetachOrdinal, host_detach},
    {kSkinHostEntry, kSkinHostEntryOrdinal, host_entry},
};

}  // namespace

void register_skin_host_module() { register_host_library(kSkinHostModule, kHostExports); }

}  // namespace pennacle
