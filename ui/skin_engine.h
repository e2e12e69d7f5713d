// The native skin engine: restyles every top-level window of the program from a ".SKN" skin block
// (palette, font and style sheet) and restores the previous look exactly on detach.
//
// The design puts the skin engine beside the other host pieces in platform/, but it needs Qt and
// platform/ stays free of Qt, so it lives here; only the block reader (skin_format.h) is Qt-free.
// The program reaches it through the carried engine image, whose exports jump into the host module
// that register_skin_host_module() registers.
//
// REQUIRES: a QApplication, and every call on its thread (other threads are refused).
#pragma once

#include <cstdint>
#include <span>

namespace pennacle {

// Attaches the skin in `block`. A refused block (malformed, see skin_format.h) changes nothing
// and gives false. Attaching over an attached skin replaces it; detach still returns to the look
// before the first attach.
[[nodiscard]] bool skin_attach(std::span<const uint8_t> block);

// Restores the palette, font and style sheet the application had before the attach. False when
// no skin was attached.
bool skin_detach();

bool skin_attached();

// Registers the host module (kSkinHostModule, skin_host.h) with the host library table. Safe to
// call more than once.
void register_skin_host_module();

}  // namespace pennacle
