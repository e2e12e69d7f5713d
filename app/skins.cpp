#include "app/skins.h"

#include <memory>
#include <tuple>

#include "app/carried_data.h"
#include "ui/skin_engine.h"

namespace pennacle {
namespace {

std::unique_ptr<MemoryModule> g_skin_engine;

}  // namespace

void create_skin_engine() {
  if (!g_skin_engine) g_skin_engine = std::make_unique<MemoryModule>();
}

MemoryModule& skin_engine() {
  create_skin_engine();
  return *g_skin_engine;
}

void StartUp() {
  // The host module the image imports from must be known before its imports are bound.
  register_skin_host_module();
  // A failed load is not reported: the engine then has no exports, so attaching and detaching do
  // nothing and the window keeps its own look.
  std::ignore = skin_engine().LoadFromMemory(carried_skin_engine_image());
}

void ApplySkin(int32_t number) {
  if (number < 1 || number > kCarriedSkinCount) return;
  AttachSkin(carried_skin(number));
}

void AttachSkin(const ByteSetHeader* skin) {
  const Word attach = skin_engine().FindExport("Skin_AttachRes");
  if (attach == 0) return;
  // The address of the data's first byte, as the copy function with a count of 0 returns it.
  const std::string_view bytes = byteset_view(skin);
  const Word data = bytes.empty() ? 0 : reinterpret_cast<Word>(bytes.data());
  const Word address = call_outside(kLstrcpyn, {data, data, 0});
  CallExport(attach, {address, bytes.size(), 0, 0, 0, 0, 0, 0, 0, 0});
}

void DetachSkin() {
  const Word detach = skin_engine().FindExport("Skin_Detach");
  if (detach == 0) return;
  CallExport(detach, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}

void release_skin_engine() {
  if (!g_skin_engine) return;
  g_skin_engine->ReleaseHeaders();
  g_skin_engine.reset();
}

}  // namespace pennacle
