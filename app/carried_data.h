// Data the program carries among its constants: the skin engine's library image and the 33 skins.
// Generated at build time (tools/make_carried_data); constant byte-set blocks, never released.
#pragma once

#include "runtime/value.h"

namespace pennacle {

inline constexpr int kCarriedSkinCount = 33;

const ByteSetHeader* carried_skin_engine_image();
// Skin number n (1 to 33); nullptr for any other number.
const ByteSetHeader* carried_skin(int n);

}  // namespace pennacle
