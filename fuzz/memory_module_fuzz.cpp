// Arbitrary bytes as a library image: LoadFromMemory must refuse or load without reading or
// writing outside the bytes or the mapped image, and FindExport must stay inside the image.
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "loader/memory_module.h"
#include "runtime/outside.h"

namespace {

pennacle::Word answer(std::span<const pennacle::Word>) { return 1; }

constexpr pennacle::HostExport kFuzzHost[] = {
    {"Entry", 1, answer},
    {"Skin_AttachRes", 2, answer},
    {"Skin_Detach", 3, answer},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool kRegistered = [] {
    pennacle::register_host_library("pnskin.dll", kFuzzHost);
    return true;
  }();
  std::ignore = kRegistered;
  pennacle::ByteSet image(std::string_view(reinterpret_cast<const char*>(data), size));
  pennacle::MemoryModule m;
  if (m.LoadFromMemory(image.block())) {
    (void)m.FindExport("Skin_AttachRes");
    (void)m.FindExport("Skin_Detach");
    (void)m.FindExport("");
    m.Unload();
  }
  m.ReleaseHeaders();
  return 0;
}
